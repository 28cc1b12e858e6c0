#include "copier/run_report_view.h"

#include <QFile>
#include <QLabel>

#include <system_error>

#include "texts/text_ids.h"
#include "ui/file_list_control.h"
#include "ui/modal_prompts.h"
#include "ui/path_text.h"
#include "ui/size_format.h"

namespace tessaly {

RunReportView::RunReportView(QWidget* window, FileListControl& list, ModalPrompts& prompts,
                             FileSystem& fs, std::function<std::string()> folder)
    : QObject(window),
      m_window(window),
      m_list(list),
      m_prompts(prompts),
      m_fs(fs),
      m_folder(std::move(folder)),
      m_summary(new QLabel(window))
{
    m_summary->setObjectName(QStringLiteral("runSummary"));
    m_summary->setTextFormat(Qt::PlainText);
    // As wide as the list, on as many lines as the language's words need.
    m_summary->setWordWrap(true);
    m_summary->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_summary->hide();
    FileListModel& model = m_list.lines();
    // The view keeps hidden rows by persistent index, so they move with sorts and
    // deletions; only new lines and lines that end are looked at, and only while the
    // damaged lines alone are shown (a long list is added in many batches).
    connect(&model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
                if (!m_damagedOnly) return;
                for (int row = first; row <= last; ++row) showRow(row);
            });
    connect(&model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex&, const QList<int>& roles) {
                if (m_damagedOnly && roles.contains(Qt::UserRole)) showRow(first.row());
            });
}

void RunReportView::setTexts(TextOf text)
{
    m_text = std::move(text);
    if (m_summaryShown) showSummary();
}

QString RunReportView::summaryText(const ReportSummary& summary, const TextOf& text)
{
    const auto count = [](std::size_t n) { return QString::number(n); };
    const std::size_t complete =
        summary.count(ReportState::Complete) + summary.count(ReportState::Skipped);
    const std::size_t failed = summary.count(ReportState::Failed) +
                               summary.count(ReportState::Unfinished) +
                               summary.count(ReportState::NotCopied);
    return text(text::kSummaryComplete) + QStringLiteral(": ") + count(complete) +
           QStringLiteral("   ") + text(text::kSummaryDamaged) + QStringLiteral(": ") +
           count(summary.count(ReportState::Damaged)) + QStringLiteral(" (") +
           QString::fromStdString(formatSize(summary.notRead)) + u' ' +
           text(text::kSummaryNotRead) + QStringLiteral(")   ") + text(text::kSummaryFailed) +
           QStringLiteral(": ") + count(failed);
}

void RunReportView::showSummary()
{
    m_summaryShown = true;
    m_summary->setText(summaryText(summaryOf(m_list.lines().reportLines()), m_text));
    m_summary->show();
}

void RunReportView::toggleDamagedOnly()
{
    m_damagedOnly = !m_damagedOnly;
    showRows();
}

void RunReportView::showRow(int row)
{
    const ReportState state = m_list.lines().report(row).state;
    const bool damaged = state == ReportState::Damaged || state == ReportState::Failed;
    m_list.setRowHidden(row, QModelIndex(), m_damagedOnly && !damaged);
}

void RunReportView::showRows()
{
    for (int row = 0; row < m_list.lines().rowCount(); ++row) showRow(row);
}

void RunReportView::save()
{
    std::string folder = m_folder();
    if (!folder.empty() && folder.back() != '/') folder += '/';
    QString title = m_text(text::kSaveReport);
    while (title.endsWith(u'.')) title.chop(1);
    const QString chosen = m_prompts.saveFile(
        m_window, title, pathText(folder + "report.csv"),
        QStringLiteral("CSV (*.csv)"));
    if (chosen.isEmpty()) return;
    const SysError error =
        writeReport(m_fs, pathBytes(chosen), m_list.lines().reportLines());
    if (error == 0) return;
    m_prompts.message(m_window, ModalPrompts::Icon::Error, m_text(text::kCaption),
                      m_text(text::kReportNotWritten) + u'\n' + chosen + u'\n' +
                          QString::fromStdString(std::error_code(error, std::generic_category()).message()));
}

}  // namespace tessaly
