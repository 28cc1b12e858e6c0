#include "ui/file_list_model.h"

#include <QFile>

#include <algorithm>
#include <numeric>

#include "ui/entry_icons.h"
#include "ui/size_format.h"
#include "ui/path_text.h"

namespace tessaly {

FileListModel::FileListModel(RunCounters& counters, QObject* parent)
    : QAbstractTableModel(parent), m_counters(counters), m_headers{QString(), QString(), QString()}
{
}

int FileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_lines.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const Line& line = m_lines[static_cast<std::size_t>(index.row())];
    if (role == Qt::DecorationRole && index.column() == 0) {
        return entryIcon(line.icon);
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) {
        return {};
    }
    switch (index.column()) {
        case 0:
            if (role == Qt::ToolTipRole && line.report) {
                const auto state = static_cast<qsizetype>(line.report->state);
                if (state < m_stateTexts.size() && !m_stateTexts[state].isEmpty()) {
                    return pathText(line.entry.name) + u'\n' + m_stateTexts[state];
                }
            }
            return pathText(line.entry.name);
        case 1: return QString::fromStdString(formatSize(line.entry.size));
        case 2:
            return line.filled ? QString::fromStdString(formatSize(*line.filled)) : QString();
        default: return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= m_headers.size()) {
        return {};
    }
    return m_headers[section];
}

void FileListModel::setHeaderTexts(const QStringList& texts)
{
    m_headers = texts;
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

void FileListModel::setStateTexts(const QStringList& texts)
{
    m_stateTexts = texts;
}

void FileListModel::append(std::vector<FileEntry> entries)
{
    if (entries.empty()) {
        return;
    }
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(entries.size()) - 1);
    std::uint64_t added = 0;
    for (FileEntry& entry : entries) {
        added += entry.size;
        m_lines.push_back({std::move(entry), 0, std::nullopt, std::nullopt});
    }
    m_counters.totalSize += added;
    m_counters.entryCount.store(static_cast<std::uint32_t>(m_lines.size()));
    endInsertRows();
}

bool FileListModel::removeLines(std::vector<int> rows)
{
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    const bool busy = std::any_of(rows.begin(), rows.end(), [this](int row) {
        return row < 0 || row >= rowCount() || entry(row).state == EntryState::InProgress;
    });
    if (busy) {
        return false;
    }
    for (const int row : rows) {  // from the last, so the other rows keep their places
        const FileEntry& gone = entry(row);
        m_counters.totalSize -= gone.size;
        if (gone.state == EntryState::Done) {
            m_counters.doneSize -= std::min(gone.size, m_counters.doneSize.load());
        }
        // The run addresses its next line by index: only a line before it moves it.
        const std::uint32_t current = m_counters.currentIndex.load();
        if (static_cast<std::uint32_t>(row) < current) {
            m_counters.currentIndex.store(current - 1);
        }
        beginRemoveRows({}, row, row);
        m_lines.erase(m_lines.begin() + row);
        m_counters.entryCount.store(static_cast<std::uint32_t>(m_lines.size()));
        endRemoveRows();
    }
    return true;
}

void FileListModel::sortByColumn(int column)
{
    std::vector<std::size_t> order(m_lines.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::vector<QString> paths;
    if (column == 0) {
        paths.reserve(m_lines.size());
        for (const Line& line : m_lines) {
            paths.push_back(pathText(line.entry.name));
        }
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const auto stateA = m_lines[a].entry.state;
        const auto stateB = m_lines[b].entry.state;
        if (stateA != stateB) {
            return stateA < stateB;
        }
        if (column == 0) {
            return paths[a].compare(paths[b], Qt::CaseInsensitive) < 0;
        }
        if (column == 1) {
            return m_lines[a].entry.size > m_lines[b].entry.size;
        }
        return false;
    });

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRow(m_lines.size());
    std::deque<Line> sorted;
    for (std::size_t i = 0; i < order.size(); ++i) {
        newRow[order[i]] = static_cast<int>(i);
        sorted.push_back(std::move(m_lines[order[i]]));
    }
    m_lines = std::move(sorted);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    for (const QModelIndex& index : before) {
        after.append(this->index(newRow[static_cast<std::size_t>(index.row())], index.column()));
    }
    changePersistentIndexList(before, after);
    const std::uint32_t current = m_counters.currentIndex.load();
    if (current < newRow.size()) {
        m_counters.currentIndex.store(static_cast<std::uint32_t>(newRow[current]));
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FileListModel::setIcon(int row, int icon)
{
    m_lines[static_cast<std::size_t>(row)].icon = icon;
    changed(row, 0, Qt::DecorationRole);
}

void FileListModel::setState(int row, EntryState state)
{
    m_lines[static_cast<std::size_t>(row)].entry.state = state;
}

void FileListModel::setFilled(int row, std::uint64_t bytes)
{
    m_lines[static_cast<std::size_t>(row)].filled = bytes;
    changed(row, 2, Qt::DisplayRole);
}

void FileListModel::setReport(int row, ReportLine report)
{
    m_lines[static_cast<std::size_t>(row)].report = std::move(report);
    changed(row, 0, Qt::UserRole);
}

ReportLine FileListModel::report(int row) const
{
    const Line& line = m_lines[static_cast<std::size_t>(row)];
    if (line.report) return *line.report;
    ReportLine notCopied;
    notCopied.source = line.entry.name;
    notCopied.size = line.entry.size;
    return notCopied;
}

std::vector<ReportLine> FileListModel::reportLines() const
{
    std::vector<ReportLine> lines;
    lines.reserve(m_lines.size());
    for (int row = 0; row < rowCount(); ++row) lines.push_back(report(row));
    return lines;
}

void FileListModel::changed(int row, int column, int role)
{
    const QModelIndex at = index(row, column);
    emit dataChanged(at, at, {role});
}

}  // namespace tessaly
