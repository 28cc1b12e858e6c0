#pragma once

#include <QIcon>

#include "run/file_entry.h"

namespace tessaly {

// The icons of the copier's list lines (EntryIcon's numbers), 16 x 16 pixels on a
// transparent ground: a blue dot with a dark rim (waiting), a teal arrow pointing right
// (copying), a green check mark (copied), a dark red exclamation mark (interrupted), a
// red cross (failed), an amber check mark with a red block (copied with unread parts).
// A null icon outside 0 to 5.
QIcon entryIcon(int index);

}  // namespace tessaly
