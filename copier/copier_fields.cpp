#include "copier/copier_fields.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>

#include "run/failure_message.h"
#include "texts/text_encoding.h"
#include "texts/text_ids.h"
#include "ui/size_format.h"
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

// The width label needs to show the widest of texts whole, measured on a label of its
// font (the label's own hint keeps to its minimum width and to its cache).
int widestText(const QLabel* label, const QStringList& texts)
{
    QLabel probe;
    probe.setFont(label->font());
    probe.setTextFormat(label->textFormat());
    probe.setIndent(label->indent());
    probe.setMargin(label->margin());
    int widest = 0;
    for (const QString& text : texts) {
        probe.setText(text);
        widest = std::max(widest, probe.sizeHint().width());
    }
    return widest;
}

// A value field keeps room for its widest value: the row never cuts it.
void fitWidth(QLabel* label, const QStringList& texts)
{
    label->setMinimumWidth(widestText(label, texts));
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
    m_pass = valueField(window, "passText");
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
    buildLayouts();
}

void CopierFields::addTo(QVBoxLayout* layout)
{
    layout->addWidget(etchedLine(m_window));
    layout->addLayout(m_bars);
    layout->addWidget(etchedLine(m_window));
    layout->addLayout(m_folder);
    layout->addWidget(etchedLine(m_window));
    layout->addLayout(m_times);
    layout->addWidget(etchedLine(m_window));
}

void CopierFields::buildLayouts()
{
    m_bars = new QGridLayout;
    m_bars->addWidget(m_fileBar, 0, 0);
    m_bars->addWidget(m_filePercent, 0, 1);
    m_bars->addWidget(m_totalBar, 1, 0);
    m_bars->addWidget(m_totalPercent, 1, 1);
    // Below the bars, so that a file at 100 % that still takes time says why.
    m_bars->addWidget(m_pass, 2, 0, 1, 2);

    m_folder = new QGridLayout;
    m_folder->setColumnStretch(1, 1);
    m_folder->addWidget(m_totalSizeLabel, 0, 0);
    m_folder->addWidget(m_totalSize, 0, 1);
    m_folder->addWidget(m_outputFolderLabel, 1, 0);
    m_folder->addWidget(m_outputFolder, 1, 1);

    m_times = new QGridLayout;
    m_times->setColumnStretch(1, 1);
    m_times->setColumnStretch(3, 1);
    m_times->setColumnStretch(5, 1);
    m_times->addWidget(m_timeThisFileLabel, 0, 0);
    m_times->addWidget(m_timeThisFile, 0, 1);
    m_times->addWidget(m_timeAllFilesLabel, 0, 2);
    m_times->addWidget(m_timeAllFiles, 0, 3);
    m_times->addWidget(m_speedLabel, 0, 4);
    m_times->addWidget(m_speed, 0, 5);
}

void CopierFields::setTexts(const Text& text)
{
    m_totalSizeLabel->setText(text(text::kTotalSizeLabel));
    m_outputFolderLabel->setText(text(text::kOutputFolderLabel));
    m_timeThisFileLabel->setText(text(text::kTimeThisFile));
    m_timeAllFilesLabel->setText(text(text::kTimeAllFiles));
    m_speedLabel->setText(text(text::kSpeedLabel));
    fitValues(text);
}

void CopierFields::fitValues(const Text& text)
{
    const QString unknown = text(text::kUnknown);
    const QString perSecond = u'/' + text(text::kSecondsUnit);
    QStringList sizes;
    QStringList speeds{QStringLiteral("0"), unknown};
    // The widest numbers formatSize gives in each unit: four digits, or three with a point.
    for (const std::uint64_t unit : {std::uint64_t{1}, std::uint64_t{1} << 10,
                                     std::uint64_t{1} << 20, std::uint64_t{1} << 30}) {
        for (const std::uint64_t bytes : {1000 * unit, 9 * unit + unit / 10 * 9,
                                          99 * unit + unit / 10 * 9}) {
            const QString size = QString::fromStdString(formatSize(bytes));
            sizes << size;
            speeds << size + perSecond;
        }
    }
    sizes << QString::fromStdString(formatSize(std::uint64_t{9999} << 30));
    RunFigures trim;
    trim.passRegions = 99999;
    RunFigures retry = trim;
    retry.retryPass = 9;
    retry.retryPasses = 9;
    retry.again = true;

    fitWidth(m_timeThisFile, {QStringLiteral("00:00:00"), unknown});
    fitWidth(m_timeAllFiles, {QStringLiteral("00:00:00"), unknown});
    fitWidth(m_speed, speeds);
    fitWidth(m_totalSize, sizes);
    fitWidth(m_outputFolder, {text(text::kNotChosen)});
    fitWidth(m_pass, {passText(trim, text), passText(retry, text)});
    for (QLabel* percent : {m_filePercent, m_totalPercent}) {
        percent->setFixedWidth(std::max(kPercentWidth, widestText(percent, {QStringLiteral("100%")})));
    }
}

int CopierFields::minimumWidth() const
{
    int width = 0;
    for (QGridLayout* grid : {m_bars, m_folder, m_times}) {
        grid->invalidate();  // a label's new text or width is not in its cache yet
        width = std::max(width, grid->minimumSize().width());
    }
    return width;
}

QString CopierFields::passText(const RunFigures& run, const Text& text)
{
    if (run.passRegions == 0) {
        return QString::fromStdString(
            phaseText(run.phase, [&text](int id) { return text(id).toStdString(); }));
    }
    return QString::fromStdString(tessaly::passText(
        run.retryPass, run.retryPasses, run.again, run.passRegions,
        [&text](int id) { return text(id).toStdString(); }));
}

void CopierFields::showProgress(int filePercent, int totalPercent)
{
    m_fileBar->setValue(filePercent);
    m_filePercent->setText(QString::number(filePercent) + u'%');
    showTotalProgress(totalPercent);
}

void CopierFields::showTotalProgress(int totalPercent)
{
    m_totalBar->setValue(totalPercent);
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

void CopierFields::showTimes(const RunFigures& run, std::uint32_t now, const Text& text,
                             const std::string& unknown)
{
    const QString pass = passText(run, text);
    if (pass != m_pass->text()) {
        m_pass->setText(pass);
    }
    const RunTimes& times = run.times;
    if (m_timesShown && now - m_lastTimes < kTimesInterval && times.running) {
        return;
    }
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
