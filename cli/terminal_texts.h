#pragma once

#include "tool/job_ui.h"

namespace tessaly::cli {

// The texts of english.lng in the program folder, looked up by id. When the file
// cannot be loaded a warning goes to standard error once, and every text shows as
// its id ("[text 24]"), so that a message still says which text it was.
TextLookup terminalTexts();

}  // namespace tessaly::cli
