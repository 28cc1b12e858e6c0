#include "copier/detail_pane.h"

#include <QMenuBar>
#include <QVBoxLayout>

#include "ui/block_map_control.h"
#include "ui/dialog_units.h"

namespace tessaly {

namespace {

// The view keeps this many pixels to the window's right edge.
constexpr int kDetailsRight = 10;
// The view's frame, in dialog units.
constexpr int kDetailsWidthDu = 171;
constexpr int kDetailsHeightDu = 182;

}  // namespace

DetailPane::DetailPane(QWidget* window, QVBoxLayout* layout, const CopyEngine& engine)
    : m_window(window), m_layout(layout), m_source(engine), m_view(new BlockMapControl(window))
{
    m_view->setObjectName(QStringLiteral("detailView"));
    m_view->setSource(&m_source);
}

QRect DetailPane::viewRect(const QMenuBar* menuBar) const
{
    const QSize size = dialogUnits(m_window->font(), kDetailsWidthDu, kDetailsHeightDu);
    const int menuHeight = menuBar ? menuBar->sizeHint().height() : 0;
    return QRect(QPoint(m_fullSize.width() - kDetailsRight - size.width(), menuHeight + kMarginTop),
                 size);
}

int DetailPane::fullWidthFor(int controlsWidth) const
{
    const QSize view = dialogUnits(m_window->font(), kDetailsWidthDu, kDetailsHeightDu);
    return kMarginSide + controlsWidth + kMarginSide + view.width() + kDetailsRight;
}

void DetailPane::show(bool shown, const QMenuBar* menuBar)
{
    m_shown = shown;
    const QRect view = viewRect(menuBar);
    const int controlsRight = view.left() - kMarginSide;
    const int rightMargin = (shown ? m_fullSize.width() : view.left()) - controlsRight;
    m_layout->setContentsMargins(kMarginSide, kMarginTop, rightMargin, kMarginSide);
    m_view->setGeometry(view);
    m_view->setVisible(shown);
    m_window->setFixedSize(shown ? m_fullSize.width() : view.left(), m_fullSize.height());
    refresh();  // what the file gained while the view was hidden
}

void DetailPane::follow(const QMenuBar* menuBar)
{
    if (m_fullSize.isValid()) {
        m_view->setGeometry(viewRect(menuBar));
    }
}

void DetailPane::fileStarted()
{
    m_fileRunning = true;
    m_view->resetForNewFile();
}

void DetailPane::refresh()
{
    if (m_shown && m_fileRunning) {
        m_view->refresh();
    }
}

void DetailPane::fileEnded()
{
    if (m_fileRunning) {
        m_fileRunning = false;
        m_view->refresh();
    }
}

}  // namespace tessaly
