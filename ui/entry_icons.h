#pragma once

#include <QIcon>

namespace tessaly {

// The icons of the copier's list lines, 16 x 16 pixels on a transparent ground.
enum class EntryIcon : int
{
    Waiting = 0,      // a blue dot with a dark rim
    Copying = 1,      // a teal arrow pointing right
    Copied = 2,       // a green check mark
    Interrupted = 3,  // a dark red exclamation mark: the line stays the next to copy
    Failed = 4,       // a red cross: the run went on with the next line
};
inline constexpr int kEntryIconCount = 5;

// The icon of the given index; a null icon outside 0 to 4.
QIcon entryIcon(int index);

}  // namespace tessaly
