#pragma once

#include "ui/text_ids.h"

namespace tessaly::text {

// Earlier names of texts 26 and 27 that the transfer jobs still use.
inline constexpr int kCannotCreateHead = kCannotCreate;
inline constexpr int kCannotCreateTail = kCheckFolder;

}  // namespace tessaly::text
