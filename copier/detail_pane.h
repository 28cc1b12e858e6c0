#pragma once

#include <QRect>
#include <QSize>

#include "ui/block_map_source.h"

class QMenuBar;
class QVBoxLayout;
class QWidget;

namespace tessaly {

class BlockMapControl;
class CopyEngine;

// The copier's detail view: the block map of the file being copied, at the right of the
// controls. The controls keep their place either way: shown, the view takes the room at
// their right; hidden, the window ends where the view begins. Position and height stay.
class DetailPane
{
public:
    // The controls' margins in the window's layout, in pixels.
    static constexpr int kMarginTop = 6;
    static constexpr int kMarginSide = 8;

    // The view is a child of window; layout holds the controls.
    DetailPane(QWidget* window, QVBoxLayout* layout, const CopyEngine& engine);

    BlockMapControl* view() const { return m_view; }
    // The window's width with the view shown that leaves controlsWidth pixels between
    // the controls' margins.
    int fullWidthFor(int controlsWidth) const;
    // The window's size with the view shown; set before the first show().
    void setFullSize(QSize size) { m_fullSize = size; }
    // Shows or hides the view below menuBar, fixing the window's size to match.
    void show(bool shown, const QMenuBar* menuBar);
    // Keeps the view below the menu bar, which may have grown.
    void follow(const QMenuBar* menuBar);
    // The current file: started (the view starts over), grown (drawn while shown) and
    // ended (drawn as it ended, until the next one begins).
    void fileStarted();
    void refresh();
    void fileEnded();

private:
    QRect viewRect(const QMenuBar* menuBar) const;  // in the window's coordinates

    QWidget* m_window;
    QVBoxLayout* m_layout;
    EngineMapSource m_source;
    BlockMapControl* m_view;
    QSize m_fullSize;
    bool m_shown = false;
    bool m_fileRunning = false;  // a file has started and not yet ended
};

}  // namespace tessaly
