#pragma once

#include <QStringList>
#include <QTreeView>

#include <memory>

#include "ui/file_list_model.h"

class QMenu;
class QMimeData;

namespace tessaly {

// Command ids of the list's context menu, kept as each QAction's data.
namespace list_command {
inline constexpr quint32 kDeleteFromList = 32793;
inline constexpr quint32 kContinueCopying = 32794;
}  // namespace list_command

// The copier's list of files: one line per FileEntry with its state icon, path, size and
// filled bytes. Several lines can be selected; the context menu continues the run from a
// line or deletes lines, as does the Delete key; a header click sorts, except while a
// run goes on (the run addresses its next line by index); files and folders dropped on
// the list are handed to the window.
class FileListControl : public QTreeView
{
    Q_OBJECT
public:
    explicit FileListControl(RunCounters& counters, QWidget* parent = nullptr);
    ~FileListControl() override;

    FileListModel& lines() { return m_model; }
    const FileListModel& lines() const { return m_model; }

    // The header texts (source file, size, not read) and the menu's (delete, continue).
    void setTexts(const QStringList& headers, const QString& deleteText,
                  const QString& continueText);
    // The widths of the columns from the list's client width: 3/5, 1/5 and the rest,
    // the last two widened to their header texts and the widest size they show, the
    // first given what is left. Done again whenever the texts or the width change.
    void setColumnWidths(int clientWidth);

    // The selected rows in ascending order.
    std::vector<int> selectedRows() const;
    // The context menu for the selection, owner-drawn, with its items enabled by the
    // rules of the selection; null when nothing is selected. The caller owns it.
    std::unique_ptr<QMenu> contextMenu();
    // Delete from list and Continue copying for the selection.
    void runCommand(quint32 id);
    // Deletes the selected lines unless one of them is being copied; false then.
    bool deleteSelected();
    // Makes the first selected line the next to copy and asks for a run.
    void continueFromSelection();
    // Hands the local files and folders of a drop on; false when it holds none.
    bool takeDrop(const QMimeData* mime);
    // Sorts by column unless a run goes on; false when refused.
    bool sortBy(int column);

signals:
    // The next line to copy was set: the window starts a run.
    void continueRequested();
    // Lines were deleted: the window shows its totals again.
    void linesDeleted();
    // Local files and folders were dropped on the list.
    void pathsDropped(const QStringList& paths);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The width column needs for its header text and for the widest value it shows.
    int neededWidth(int column) const;

    RunCounters& m_counters;
    FileListModel m_model;
    QString m_deleteText;
    QString m_continueText;
};

}  // namespace tessaly
