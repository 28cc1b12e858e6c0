// tessaly: copies files from damaged media into an output folder and salvages every
// byte the medium still gives. `tessaly --help` describes the command line.

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QEventLoop>
#include <QImage>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "copier/command_line.h"
#include "copier/copier_window.h"
#include "platform/program_folder.h"
#include "texts/language_table.h"
#include "ui/modal_prompts.h"
#include "ui/path_text.h"

namespace {

std::vector<std::string> argumentsAfterName()
{
    std::vector<std::string> arguments;
    const QStringList all = QCoreApplication::arguments();
    for (qsizetype i = 1; i < all.size(); ++i) {
        arguments.push_back(tessaly::pathBytes(all[i]));
    }
    return arguments;
}

QStringList pathList(const std::vector<std::string>& paths)
{
    QStringList list;
    for (const std::string& path : paths) {
        list.append(QFileInfo(tessaly::pathText(path)).absoluteFilePath());
    }
    return list;
}

// Renders the window into file, then ends its run: as it opens, or with afterRun once
// the run has copied the list (a minute at most).
int renderWindow(tessaly::CopierWindow& window, const std::string& file, bool afterRun)
{
    window.show();
    QCoreApplication::processEvents();
    if (afterRun) {
        const auto& run = window.counters();
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (window.workerCount() <= 1 && !run.copying.load() && run.entryCount.load() > 0 &&
                run.currentIndex.load() == run.entryCount.load()) {
                loop.quit();
            }
        });
        poll.start(20);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
        QCoreApplication::processEvents();
    }
    const bool saved =
        window.grab().toImage().save(tessaly::pathText(file));
    if (!saved) {
        std::fprintf(stderr, "tessaly: the picture could not be written\n");
    }
    window.requestExit();
    window.exec();
    return saved ? 0 : 1;
}

// The window while main runs, for a process end that bypasses main's return.
std::atomic<tessaly::CopierWindow*> g_window{nullptr};

// The toolkit ends the process with exit() when the display goes away (the session
// ended, the X server died); the copy then still runs on its threads. Its log gets
// its end record before the process goes, as after the window's own exit.
void stopCopyAtProcessEnd()
{
    if (tessaly::CopierWindow* window = g_window.exchange(nullptr)) {
        window->stopCopyForProcessEnd(3000);
    }
}

struct WindowAtProcessEnd
{
    explicit WindowAtProcessEnd(tessaly::CopierWindow& window)
    {
        g_window.store(&window);
        std::atexit(stopCopyAtProcessEnd);
    }
    ~WindowAtProcessEnd() { g_window.store(nullptr); }
};

}  // namespace

int main(int argc, char* argv[])
{
    // Help needs no display.
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--") {
            break;
        }
        if (tessaly::isHelpOption(argument)) {
            std::fputs(tessaly::usageText().c_str(), stdout);
            return 0;
        }
    }
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Brindlework"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessaly"));

    const tessaly::CommandLine line = tessaly::parseCommandLine(argumentsAfterName());
    if (!line.error.empty()) {
        std::fprintf(stderr, "tessaly: %s\n\n%s", line.error.c_str(), tessaly::usageText().c_str());
        return 2;
    }

    tessaly::CopierWindow::Setup setup;
    setup.programFolder = tessaly::programFolder();
    // Paths of the command line replace the quick start; a picture needs neither.
    setup.quickStart = line.paths.empty() && line.screenshot.empty();

    tessaly::LanguageTable language;
    tessaly::DesktopPrompts prompts;
    tessaly::CopierWindow window(language, prompts, setup);
    const WindowAtProcessEnd processEnd(window);
    window.watchStopSignals();
    if (!window.initialize()) {
        return 1;
    }
    if (!line.outputFolder.empty()) {
        window.useOutputFolderForThisRun(line.outputFolder);
    }
    window.addPaths(pathList(line.paths), line.start ? tessaly::CopierWindow::AfterAdd::Start
                                                     : tessaly::CopierWindow::AfterAdd::Nothing);
    if (!line.screenshot.empty()) {
        return renderWindow(window, line.screenshot, line.start);
    }
    window.show();
    return window.exec() == 1 ? 0 : 1;
}
