#include "copier/copier_fields.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "ui/size_format.h"
#include "ui/text_encoding.h"
#include "ui/text_ids.h"
#include "ui/window_parts.h"

namespace tessaly {

namespace {

constexpr int kPercentWidth = 36;
constexpr std::uint32_t kTimesInterval = 1000;  // ms between two refreshes of speed and times

QProgressBar* progressBar(QWidget* parent, const char* name)
{
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QLatin1String(name));
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

QLabel* percentLabel(QWidget* parent, const char* name)
{
    auto* label = new QLabel(QStringLiteral("0%"), parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setFixedWidth(kPercentWidth);
    return label;
}

}  // namespace

CopierFields::CopierFields(QWidget* window) : m_window(window)
{
    m_fileBar = progressBar(window, "fileBar");
    m_totalBar = progressBar(window, "totalBar");
    m_filePercent = percentLabel(window, "filePercent");
    m_totalPercent = percentLabel(window, "totalPercent");
    m_totalSizeLabel = fieldLabel(window, "totalSizeLabel", "Total files size");
    m_totalSize = valueField(window, "totalSize");
    m_totalSize->setText(QStringLiteral("0"));
    m_outputFolderLabel = fieldLabel(window, "outputFolderLabel", "Output directory");
    m_outputFolder = valueField(window, "outputFolder");
    m_timeThisFileLabel = fieldLabel(window, "timeThisFileLabel", "Time this file");
    m_timeAllFilesLabel = fieldLabel(window, "timeAllFilesLabel", "Time all files");
    m_speedLabel = fieldLabel(window, "speedLabel", "Speed");
    m_timeThisFile = valueField(window, "timeThisFile");
    m_timeAllFiles = valueField(window, "timeAllFiles");
    m_speed = valueField(window, "speed");
    m_timeThisFile->setText(QStringLiteral("00:00:00"));
    m_timeAllFiles->setText(QStringLiteral("00:00:00"));
    m_speed->setText(QStringLiteral("0"));
}

void CopierFields::addTo(QVBoxLayout* layout)
{
    layout->addWidget(etchedLine(m_window));
    layout->addLayout(barsLayout());
    layout->addWidget(etchedLine(m_window));
    layout->addLayout(folderLayout());
    layout->addWidget(etchedLine(m_window));
    layout->addLayout(timesLayout());
    layout->addWidget(etchedLine(m_window));
}

QGridLayout* CopierFields::barsLayout() const
{
    auto* bars = new QGridLayout;
    bars->addWidget(m_fileBar, 0, 0);
    bars->addWidget(m_filePercent, 0, 1);
    bars->addWidget(m_totalBar, 1, 0);
    bars->addWidget(m_totalPercent, 1, 1);
    return bars;
}

QGridLayout* CopierFields::folderLayout() const
{
    auto* folder = new QGridLayout;
    folder->setColumnStretch(1, 1);
    folder->addWidget(m_totalSizeLabel, 0, 0);
    folder->addWidget(m_totalSize, 0, 1);
    folder->addWidget(m_outputFolderLabel, 1, 0);
    folder->addWidget(m_outputFolder, 1, 1);
    return folder;
}

QGridLayout* CopierFields::timesLayout() const
{
    auto* times = new QGridLayout;
    times->setColumnStretch(1, 1);
    times->setColumnStretch(3, 1);
    times->setColumnStretch(5, 1);
    times->addWidget(m_timeThisFileLabel, 0, 0);
    times->addWidget(m_timeThisFile, 0, 1);
    times->addWidget(m_timeAllFilesLabel, 0, 2);
    times->addWidget(m_timeAllFiles, 0, 3);
    times->addWidget(m_speedLabel, 0, 4);
    times->addWidget(m_speed, 0, 5);
    return times;
}

void CopierFields::setTexts(const Text& text)
{
    m_totalSizeLabel->setText(text(text::kTotalSizeLabel));
    m_outputFolderLabel->setText(text(text::kOutputFolderLabel));
    m_timeThisFileLabel->setText(text(text::kTimeThisFile));
    m_timeAllFilesLabel->setText(text(text::kTimeAllFiles));
    m_speedLabel->setText(text(text::kSpeedLabel));
}

void CopierFields::showProgress(int filePercent, int totalPercent)
{
    m_fileBar->setValue(filePercent);
    m_totalBar->setValue(totalPercent);
    m_filePercent->setText(QString::number(filePercent) + u'%');
    m_totalPercent->setText(QString::number(totalPercent) + u'%');
}

void CopierFields::showTotalSize(std::uint64_t bytes)
{
    m_totalSize->setText(QString::fromStdString(formatSize(bytes)));
}

void CopierFields::showOutputFolder(const QString& shown)
{
    m_outputFolder->setText(shown);
}

void CopierFields::showTimes(const RunSnapshot& run, std::uint32_t now, const Text& text,
                             const std::string& unknown)
{
    if (m_timesShown && now - m_lastTimes < kTimesInterval && run.copying &&
        run.currentIndex < run.entryCount) {
        return;
    }
    const RunTimes times = computeRunTimes(run);
    switch (times.speed) {
        case RunTimes::Speed::Idle:
            m_speed->setText(QStringLiteral("0"));
            break;
        case RunTimes::Speed::Unknown:
            m_speed->setText(text(text::kUnknown));
            break;
        case RunTimes::Speed::Measured:
            m_speed->setText(QString::fromStdString(formatSize(times.rate)) + u'/' +
                             text(text::kSecondsUnit));
            break;
    }
    const auto shown = [&](std::uint32_t seconds) {
        return times.running ? QString::fromStdString(textToUtf8(formatDuration(seconds, unknown)))
                             : QStringLiteral("00:00:00");
    };
    m_timeThisFile->setText(shown(times.thisFileSeconds));
    m_timeAllFiles->setText(shown(times.allFilesSeconds));
    m_lastTimes = now;
    m_timesShown = true;
}

}  // namespace tessaly
