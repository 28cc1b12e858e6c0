// tessaly-window-bench: drives the copier's window offscreen for the benchmarks.
//
//   tessaly-window-bench copy FOLDER OUTPUT   Add folder, Start, wait for the run's end;
//                                             prints "RESULT window_copy_seconds S s"
//   tessaly-window-bench scan FOLDER          Add folder, wait until every file is listed;
//                                             prints the time to list, the lines and the
//                                             longest gap between two 5 ms timer ticks
//
// The profile is the caller's (point XDG_CONFIG_HOME at a scratch folder). Questions are
// answered with their second button; nothing is asked in a plain run.

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <string>

#include "copier/copier_window.h"
#include "platform/program_folder.h"
#include "texts/language_table.h"
#include "ui/modal_prompts.h"

namespace {

// Answers every question as a person who declines would.
class DecliningPrompts : public tessaly::ModalPrompts
{
public:
    void message(QWidget*, Icon, const QString&, const QString& text) override
    {
        std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
    }
    QString openFile(QWidget*, const QString&, const QString&, const QString&,
                     const QString&) override
    {
        return {};
    }
    void openHelp(const QUrl&) override {}
    PromptAnswer prompt(QWidget*, const Prompt&) override { return {}; }
    QString chooseFolder(QWidget*, const QString&) override { return {}; }
    QStringList openFiles(QWidget*, const QString&, const QString&) override { return {}; }
    QString saveFile(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
};

QString qPath(const char* path)
{
    return QFile::decodeName(QByteArray(path));
}

// Polls every 5 ms until done() holds; returns the longest time between two polls.
qint64 waitFor(const std::function<bool()>& done)
{
    QEventLoop loop;
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.restart());
        if (done()) {
            loop.quit();
        }
    });
    sinceTick.start();
    tick.start();
    loop.exec();
    return longest;
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Brindlework"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessaly"));
    const std::string mode = argc > 2 ? argv[1] : "";
    if ((mode != "copy" || argc != 4) && (mode != "scan" || argc != 3)) {
        std::fprintf(stderr, "usage: tessaly-window-bench copy FOLDER OUTPUT | scan FOLDER\n");
        return 2;
    }

    tessaly::CopierWindow::Setup setup;
    setup.programFolder = tessaly::programFolder();
    setup.quickStart = false;
    tessaly::LanguageTable language;
    DecliningPrompts prompts;
    tessaly::CopierWindow window(language, prompts, setup);
    if (!window.initialize()) {
        return 1;
    }
    window.show();
    // The first paint (fonts, styles) is no part of what is measured.
    QElapsedTimer settle;
    settle.start();
    waitFor([&] { return settle.elapsed() >= 300; });
    const auto& counters = window.counters();
    QElapsedTimer clock;
    clock.start();
    if (mode == "copy") {
        window.useOutputFolderForThisRun(argv[3]);
        window.addPaths({qPath(argv[2])}, tessaly::CopierWindow::AfterAdd::Start);
        waitFor([&] {
            return window.workerCount() == 1 && !counters.copying.load() &&
                   counters.entryCount.load() > 0 &&
                   counters.currentIndex.load() == counters.entryCount.load();
        });
        std::printf("RESULT window_copy_seconds %.3f s\n", clock.elapsed() / 1000.0);
        std::printf("RESULT window_copy_files %u files\n", counters.entryCount.load());
    } else {
        window.addPaths({qPath(argv[2])}, tessaly::CopierWindow::AfterAdd::Nothing);
        const qint64 gap = waitFor([&] { return window.workerCount() == 1; });
        QCoreApplication::processEvents();  // the scan's last lines are on their way
        std::printf("RESULT window_scan_seconds %.3f s\n", clock.elapsed() / 1000.0);
        std::printf("RESULT window_scan_lines %u lines\n", counters.entryCount.load());
        std::printf("RESULT window_scan_longest_gap %lld ms\n", static_cast<long long>(gap));
    }
    std::fflush(stdout);
    window.requestExit();
    waitFor([&] { return window.finished(); });
    return 0;
}
