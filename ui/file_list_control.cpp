#include "ui/file_list_control.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QStyle>

#include "ui/owner_draw_menu.h"
#include "ui/size_format.h"

namespace tessaly {
namespace {

QStringList localPaths(const QMimeData* mime)
{
    QStringList paths;
    if (mime == nullptr || !mime->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) {
            paths.append(url.toLocalFile());
        }
    }
    return paths;
}

}  // namespace

FileListControl::FileListControl(RunCounters& counters, QWidget* parent)
    : QTreeView(parent), m_counters(counters), m_model(counters)
{
    setModel(&m_model);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setIconSize(QSize(16, 16));
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int column) { sortBy(column); });
}

FileListControl::~FileListControl() = default;

void FileListControl::setTexts(const QStringList& headers, const QString& deleteText,
                               const QString& continueText)
{
    m_model.setHeaderTexts(headers);
    m_deleteText = deleteText;
    m_continueText = continueText;
    // Another language's headers may be wider or narrower than the last ones.
    setColumnWidths(viewport()->width());
}

int FileListControl::neededWidth(int column) const
{
    // The widest figures the size and filled columns show, with the cell's margins.
    int value = 0;
    for (const std::uint64_t bytes :
         {std::uint64_t{9999} << 30, std::uint64_t{99} << 20 | 900 << 10}) {
        const QString shown = QString::fromStdString(formatSize(bytes));
        value = std::max(value, fontMetrics().horizontalAdvance(shown));
    }
    value += 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 8;
    return std::max(header()->sectionSizeHint(column), value);
}

void FileListControl::setColumnWidths(int clientWidth)
{
    const int third = std::max(clientWidth / 5, neededWidth(2));
    const int second = std::max(clientWidth / 5, neededWidth(1));
    // The path column gives way first; it keeps at least a fifth of the list.
    const int first = std::max(clientWidth - second - third, clientWidth / 5);
    header()->resizeSection(0, first);
    header()->resizeSection(1, second);
    header()->resizeSection(2, third);
}

void FileListControl::resizeEvent(QResizeEvent* event)
{
    QTreeView::resizeEvent(event);
    setColumnWidths(viewport()->width());
}

std::vector<int> FileListControl::selectedRows() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::unique_ptr<QMenu> FileListControl::contextMenu()
{
    const std::vector<int> rows = selectedRows();
    if (rows.empty()) {
        return nullptr;
    }
    auto menu = std::make_unique<QMenu>(this);
    QAction* continueItem = menu->addAction(m_continueText);
    continueItem->setData(list_command::kContinueCopying);
    menu->addSeparator();
    QAction* deleteItem = menu->addAction(m_deleteText);
    deleteItem->setData(list_command::kDeleteFromList);

    bool canContinue = false;
    bool canDelete = true;
    for (const int row : rows) {
        const EntryState state = m_model.entry(row).state;
        canContinue = canContinue || (state == EntryState::Unfinished && !m_counters.copying.load());
        canDelete = canDelete && state != EntryState::InProgress;
    }
    continueItem->setEnabled(canContinue);
    deleteItem->setEnabled(canDelete);
    return menu;
}

void FileListControl::runCommand(quint32 id)
{
    if (id == list_command::kDeleteFromList) {
        deleteSelected();
    } else if (id == list_command::kContinueCopying) {
        continueFromSelection();
    }
}

bool FileListControl::deleteSelected()
{
    const std::vector<int> rows = selectedRows();
    if (rows.empty() || !m_model.removeLines(rows)) {
        return false;
    }
    emit linesDeleted();
    return true;
}

void FileListControl::continueFromSelection()
{
    const std::vector<int> rows = selectedRows();
    if (rows.empty() || m_counters.copying.load()) {
        return;
    }
    m_counters.currentIndex.store(static_cast<std::uint32_t>(rows.front()));
    emit continueRequested();
}

bool FileListControl::sortBy(int column)
{
    if (m_counters.copying.load()) {
        return false;
    }
    for (int row = 0; row < m_model.rowCount(); ++row) {
        if (m_model.entry(row).state == EntryState::InProgress) {
            return false;  // the run is still finishing that line
        }
    }
    m_model.sortByColumn(column);
    return true;
}

void FileListControl::contextMenuEvent(QContextMenuEvent* event)
{
    std::unique_ptr<QMenu> menu = contextMenu();
    if (!menu) {
        return;
    }
    OwnerDrawMenu ownerDraw(menu.get());
    const QAction* chosen = menu->exec(event->globalPos());
    if (chosen != nullptr && chosen->isEnabled()) {
        runCommand(chosen->data().toUInt());
    }
}

void FileListControl::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete) {
        deleteSelected();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void FileListControl::dragEnterEvent(QDragEnterEvent* event)
{
    if (!localPaths(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void FileListControl::dragMoveEvent(QDragMoveEvent* event)
{
    if (!localPaths(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void FileListControl::dropEvent(QDropEvent* event)
{
    if (takeDrop(event->mimeData())) {
        event->acceptProposedAction();
    }
}

bool FileListControl::takeDrop(const QMimeData* mime)
{
    const QStringList paths = localPaths(mime);
    if (paths.isEmpty()) {
        return false;
    }
    emit pathsDropped(paths);
    return true;
}

}  // namespace tessaly
