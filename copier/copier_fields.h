#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <string>

#include "run/run_figures.h"

class QGridLayout;
class QLabel;
class QProgressBar;
class QVBoxLayout;
class QWidget;

namespace tessaly {

// The fields below the copier's list: both progress bars with their percentages, the
// pass that runs after the main pass, the total size and the output folder, the times
// and the speed. The widgets are the window's own children, laid out in the window's
// layout. Each field is as wide as the longest value it can show in the language in use
// (all but the output folder, which is cut at the window's edge).
class CopierFields
{
public:
    using Text = std::function<QString(int)>;

    explicit CopierFields(QWidget* window);

    // Adds the three groups of fields to layout, each after an etched line, and a line
    // below the last.
    void addTo(QVBoxLayout* layout);
    // Sets the labels' texts and sizes every field for the language's texts.
    void setTexts(const Text& text);
    // The width the fields need to show their labels and longest values whole, in pixels.
    int minimumWidth() const;
    void showProgress(int filePercent, int totalPercent);
    void showTotalProgress(int totalPercent);
    void showTotalSize(std::uint64_t bytes);
    void showOutputFolder(const QString& shown);
    // Speed and times of run, at most once a second while the run goes on; unknown is
    // the language's text for a time that cannot be told. The pass and its regions left
    // are shown at every call.
    void showTimes(const RunFigures& run, std::uint32_t now, const Text& text,
                   const std::string& unknown);

    // "Trimming, regions left: N" while the trim pass runs, "Retrying P/Q, regions left:
    // N" while a retry pass does, empty otherwise.
    static QString passText(const RunFigures& run, const Text& text);

private:
    void buildLayouts();
    void fitValues(const Text& text);

    QGridLayout* m_bars = nullptr;  // owned by the window's layout once added to it
    QGridLayout* m_folder = nullptr;
    QGridLayout* m_times = nullptr;

    QWidget* m_window;
    QProgressBar* m_fileBar = nullptr;
    QProgressBar* m_totalBar = nullptr;
    QLabel* m_filePercent = nullptr;
    QLabel* m_totalPercent = nullptr;
    QLabel* m_pass = nullptr;
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
