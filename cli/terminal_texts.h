#pragma once

#include "tool/job_ui.h"

namespace tessaly::cli {

// The command line's texts (english.lng from the program folder, or the built-in
// English ones) as a lookup for the transfer jobs. An id without any text shows as
// "[text N]", so that a message still says which text it was.
TextLookup terminalTexts();

}  // namespace tessaly::cli
