#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "run/damage_report.h"
#include "run/file_entry.h"
#include "run/run_counters.h"

namespace tessaly {

// The lines of the copier's list: the entry, its icon and the bytes filled in its copy.
// Columns: 0 the source path with the icon, 1 the size, 2 the filled bytes. Used on the
// window's thread only; every change keeps the counters in step.
class FileListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit FileListModel(RunCounters& counters, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void setHeaderTexts(const QStringList& texts);
    // The words a line's tooltip gives below its path once its copy has ended, by
    // ReportState; an empty word (or none) adds nothing.
    void setStateTexts(const QStringList& texts);

    // Appends the entries as new lines (icon 0), adding to the line count and total size.
    void append(std::vector<FileEntry> entries);
    // Removes the lines, unless one of them is being copied (false then, nothing
    // changes). Lowers the total size, the copied size for Done lines, and moves the
    // next line to copy down for every removed line before it.
    bool removeLines(std::vector<int> rows);
    // Groups the lines by state, then orders them by column (0: path ascending without
    // regard to case; 1: size, larger first; 2: by state only). The line to copy next
    // stays the same line.
    void sortByColumn(int column);

    const FileEntry& entry(int row) const { return m_lines[static_cast<std::size_t>(row)].entry; }
    int icon(int row) const { return m_lines[static_cast<std::size_t>(row)].icon; }
    std::optional<std::uint64_t> filled(int row) const
    {
        return m_lines[static_cast<std::size_t>(row)].filled;
    }
    void setIcon(int row, int icon);
    void setState(int row, EntryState state);
    void setFilled(int row, std::uint64_t bytes);
    // The line's report of its last copy; a line the run has not come to is "not copied".
    void setReport(int row, ReportLine report);
    ReportLine report(int row) const;
    std::vector<ReportLine> reportLines() const;

private:
    struct Line
    {
        FileEntry entry;
        int icon = 0;
        std::optional<std::uint64_t> filled;
        std::optional<ReportLine> report;
    };
    void changed(int row, int column, int role);

    RunCounters& m_counters;
    std::deque<Line> m_lines;  // grows without moving the lines it holds
    QStringList m_headers;
    QStringList m_stateTexts;
};

}  // namespace tessaly
