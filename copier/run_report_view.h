#pragma once

#include <QLabel>
#include <QObject>
#include <QString>

#include <functional>
#include <string>

#include "platform/file_system.h"
#include "run/damage_report.h"

class QWidget;

namespace tessaly {

class FileListControl;
class ModalPrompts;

// The run's report in the copier's window: a summary line below the list at the end of a
// run (files complete, with unread parts and the bytes not read, failed or not copied), a
// view of only the lines with unread parts or failures, and Save report (CSV).
class RunReportView : public QObject
{
    Q_OBJECT
public:
    using TextOf = std::function<QString(int)>;

    // folder gives the folder a saved report is offered in (the output folder).
    RunReportView(QWidget* window, FileListControl& list, ModalPrompts& prompts, FileSystem& fs,
                  std::function<std::string()> folder);

    // The summary line, hidden until a run has ended; the window lays it out.
    QLabel* summary() const { return m_summary; }
    void setTexts(TextOf text);
    // At the end of a run: the summary over every line of the list.
    void showSummary();
    // Shows only the lines with unread parts or failures, or every line again.
    void toggleDamagedOnly();
    bool damagedOnly() const { return m_damagedOnly; }
    // Asks where, and writes the report of every line; says why when it cannot.
    void save();

    // The summary's text in the language's words.
    static QString summaryText(const ReportSummary& summary, const TextOf& text);

private:
    void showRow(int row);
    void showRows();

    QWidget* m_window;
    FileListControl& m_list;
    ModalPrompts& m_prompts;
    FileSystem& m_fs;
    std::function<std::string()> m_folder;
    TextOf m_text;
    QLabel* m_summary;
    bool m_damagedOnly = false;
    bool m_summaryShown = false;
};

}  // namespace tessaly
