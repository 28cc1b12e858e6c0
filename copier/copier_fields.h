#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <string>

#include "copier/run_times.h"

class QGridLayout;
class QLabel;
class QProgressBar;
class QVBoxLayout;
class QWidget;

namespace tessaly {

// The fields below the copier's list: both progress bars with their percentages, the
// total size and the output folder, the times and the speed. The widgets are the
// window's own children, laid out in the window's layout.
class CopierFields
{
public:
    using Text = std::function<QString(int)>;

    explicit CopierFields(QWidget* window);

    // Adds the three groups of fields to layout, each after an etched line, and a line
    // below the last.
    void addTo(QVBoxLayout* layout);
    void setTexts(const Text& text);
    void showProgress(int filePercent, int totalPercent);
    void showTotalSize(std::uint64_t bytes);
    void showOutputFolder(const QString& shown);
    // Speed and times of run, at most once a second while the run goes on; unknown is
    // the language's text for a time that cannot be told.
    void showTimes(const RunSnapshot& run, std::uint32_t now, const Text& text,
                   const std::string& unknown);

private:
    QGridLayout* barsLayout() const;
    QGridLayout* folderLayout() const;
    QGridLayout* timesLayout() const;

    QWidget* m_window;
    QProgressBar* m_fileBar = nullptr;
    QProgressBar* m_totalBar = nullptr;
    QLabel* m_filePercent = nullptr;
    QLabel* m_totalPercent = nullptr;
    QLabel* m_totalSizeLabel = nullptr;
    QLabel* m_totalSize = nullptr;
    QLabel* m_outputFolderLabel = nullptr;
    QLabel* m_outputFolder = nullptr;
    QLabel* m_timeThisFileLabel = nullptr;
    QLabel* m_timeThisFile = nullptr;
    QLabel* m_timeAllFilesLabel = nullptr;
    QLabel* m_timeAllFiles = nullptr;
    QLabel* m_speedLabel = nullptr;
    QLabel* m_speed = nullptr;
    std::uint32_t m_lastTimes = 0;  // tick of the last refresh of speed and times
    bool m_timesShown = false;
};

}  // namespace tessaly
