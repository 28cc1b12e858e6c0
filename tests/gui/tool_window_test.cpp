#include "tool/tool_window.h"

#include <QActionGroup>
#include <QLabel>
#include <QProgressBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <functional>
#include <memory>

#include "tests/gui/gui_test_support.h"
#include "tests/tool/tool_test_support.h"
#include "texts/language_table.h"
#include "texts/text_ids.h"
#include "ui/ui_text.h"

using namespace tessaly;
namespace fs = std::filesystem;

namespace {

using testing::ScriptedPrompts;
using testing::profile;
using testing::q;


// A window over a language folder of its own, with fast polling.
struct Tool
{
    explicit Tool(const fs::path& programFolder)
    {
        ToolWindow::Setup setup;
        setup.programFolder = programFolder;
        setup.startFolder = programFolder;
        setup.timing = {5};
        window = std::make_unique<ToolWindow>(language, prompts, setup);
    }

    // Exit, then wait until the window has ended its run.
    bool stopAndWait()
    {
        QSignalSpy stopped(window.get(), &ToolWindow::stopped);
        window->stopSequence();
        return window->finished() || stopped.wait(20000);
    }

    QString labelText(const char* name) const
    {
        return window->findChild<QLabel*>(QLatin1String(name))->text();
    }
    int progress() const { return window->findChild<QProgressBar*>()->value(); }

    ScriptedPrompts prompts;
    LanguageTable language;
    std::unique_ptr<ToolWindow> window;
};

int checkedLanguage(const QMenu* menu)
{
    int checked = -1;
    const QList<QAction*> actions = menu->actions();
    for (int i = 0; i < actions.size(); ++i) {
        if (actions[i]->isChecked()) {
            if (checked >= 0) {
                return -2;  // more than one mark
            }
            checked = i;
        }
    }
    return checked;
}

}  // namespace

class ToolWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_profileDir.isValid());
        m_shipped = testing::useTestProfile(m_profileDir.path());
        QVERIFY2(!m_shipped.empty(), "TESSALY_DATA_DIR is not set");
        QVERIFY(fs::exists(m_shipped / "english.lng"));
    }

    void init() { profile().clear(); }

    void startFallsBackToTheFirstLanguageFile()
    {
        testing::TempDir languages;
        for (const char* name : {"english.lng", "deutsch.lng", "russian.lng"}) {
            fs::copy_file(m_shipped / name, fs::path(languages.path()) / name);
        }
        LanguageTable probe;
        probe.enumerateLanguages(languages.path());
        const std::string first = *probe.languageFile(0);
        {
            QSettings settings = profile();
            settings.setValue(QStringLiteral("Language"), QStringLiteral("missing.lng"));
            settings.setValue(QStringLiteral("Path"), q(languages.path()));
        }

        Tool tool(fs::path("/nonexistent"));  // "Path" wins over the program folder
        QVERIFY(tool.window->initialize());
        QCOMPARE(tool.window->currentLanguageFile(), first);
        QCOMPARE(tool.window->languageMenu()->actions().size(), 3);
        QCOMPARE(checkedLanguage(tool.window->languageMenu()), 0);
        QCOMPARE(tool.window->workers().count(), 1);
        QVERIFY(!tool.window->windowIcon().pixmap(32, 32).isNull());

        tool.window->runCommand(tool_command::kHelp);
        QCOMPARE(tool.prompts.helpPages.size(), 1);
        QCOMPARE(tool.prompts.helpPages[0],
                 QUrl::fromLocalFile(q(languages / "Help/velmora.html")));

        QVERIFY(tool.stopAndWait());
        tool.window.reset();
        QCOMPARE(profile().value(QStringLiteral("Language")).toString(), q(first));
        QCOMPARE(profile().value(QStringLiteral("Path")).toString(), q(languages.path()));
    }

    void aStalePathGivesWayToTheProgramFolder()
    {
        profile().setValue(QStringLiteral("Path"), QStringLiteral("/nonexistent/old-build"));
        Tool tool(m_shipped);
        QVERIFY(tool.window->initialize());
        QCOMPARE(tool.window->currentLanguageFile(), std::string("english.lng"));
        QVERIFY(tool.stopAndWait());
        tool.window.reset();
        // The tool only reads "Path"; the copier is the one that stores it.
        QCOMPARE(profile().value(QStringLiteral("Path")).toString(),
                 QStringLiteral("/nonexistent/old-build"));
    }

    void languageSwitchRetextsMenusAndLabelsOnly()
    {
        Tool tool(m_shipped);
        QVERIFY(tool.window->initialize());
        QCOMPARE(tool.window->currentLanguageFile(), std::string("english.lng"));
        QCOMPARE(tool.labelText("dataFromLabel"), tool.window->text(text::kDataFromLabel));

        tool.window->showDataFrom(QStringLiteral("photo.jpg"));
        tool.window->showDataTo(QStringLiteral("photo.jpg.mrd"));
        tool.window->showState(text::kDone);
        tool.window->showProgress(40);
        const QString stateBefore = tool.labelText("state");
        // Fixed size: 213 x 95 dialog units of the window's font below the menu bar.
        const QSize size = tool.window->size();
        QCOMPARE(tool.window->minimumSize(), size);
        QCOMPARE(tool.window->maximumSize(), size);
        const QFontMetrics metrics(tool.window->font());
        const QString letters =
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        const int averageWidth = metrics.horizontalAdvance(letters) / 52;
        QVERIFY(size.width() >= 213 * averageWidth / 4);
        QVERIFY(size.height() - tool.window->menuBar()->height() >= 95 * metrics.height() / 8);

        int german = -1;
        for (std::size_t i = 0; i < tool.language.languageCount(); ++i) {
            if (tool.language.languageFile(i) == std::string("deutsch.lng")) {
                german = static_cast<int>(i);
            }
        }
        QVERIFY(german >= 0);
        LanguageTable deutsch;
        QVERIFY(deutsch.loadLanguage(m_shipped, "deutsch.lng"));

        // Through the menu item itself: the bar it lives in is replaced meanwhile.
        tool.window->languageMenu()->actions().at(german)->trigger();
        QCoreApplication::processEvents();

        QCOMPARE(tool.window->currentLanguageFile(), std::string("deutsch.lng"));
        QCOMPARE(profile().value(QStringLiteral("Language")).toString(), QStringLiteral("deutsch.lng"));
        QCOMPARE(checkedLanguage(tool.window->languageMenu()), german);
        const QList<QAction*> bar = tool.window->menuBar()->actions();
        QCOMPARE(bar.at(0)->text(), uiText(deutsch, 1));
        QCOMPARE(bar.at(1)->text(), uiText(deutsch, 2));
        QCOMPARE(bar.at(2)->text(), uiText(deutsch, 3));
        QCOMPARE(bar.at(0)->menu()->actions().at(0)->text(), uiText(deutsch, 82) + "\tCtrl+G");
        QCOMPARE(bar.at(0)->menu()->actions().at(3)->text(), uiText(deutsch, 36) + "\tAlt+X");
        QCOMPARE(bar.at(1)->menu()->actions().at(0)->text(), uiText(deutsch, 40) + "\t");
        QCOMPARE(tool.labelText("dataFromLabel"), uiText(deutsch, 79));
        QCOMPARE(tool.labelText("dataToLabel"), uiText(deutsch, 80));
        QCOMPARE(tool.labelText("stateLabel"), uiText(deutsch, 81));
        QCOMPARE(tool.window->windowTitle(), QStringLiteral("Velmora"));
        // The new items are drawn by the owner-drawn menu too.
        QVERIFY(OwnerDrawMenu::record(bar.at(0)->menu()->actions().at(0)) != nullptr);

        QCOMPARE(tool.labelText("dataFrom"), QStringLiteral("photo.jpg"));
        QCOMPARE(tool.labelText("dataTo"), QStringLiteral("photo.jpg.mrd"));
        QCOMPARE(tool.labelText("state"), stateBefore);
        QCOMPARE(tool.progress(), 40);
        QCOMPARE(tool.window->size(), size);
        QVERIFY(tool.stopAndWait());
    }

    void acceleratorsReachTheirCommands()
    {
        Tool tool(m_shipped);
        QVERIFY(tool.window->initialize());
        tool.window->show();
        QApplication::setActiveWindow(tool.window.get());
        QVERIFY(QTest::qWaitForWindowActive(tool.window.get()));

        QTest::keyClick(tool.window.get(), Qt::Key_G, Qt::ControlModifier);
        QTest::keyClick(tool.window.get(), Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(tool.prompts.fileQuestions.size(), 2);
        QCOMPARE(tool.prompts.fileQuestions[0].title, tool.window->text(text::kChooseLogTitle));
        QTest::keyClick(tool.window.get(), Qt::Key_F1);
        QCOMPARE(tool.prompts.helpPages.size(), 1);
        QSignalSpy stopped(tool.window.get(), &ToolWindow::stopped);
        QTest::keyClick(tool.window.get(), Qt::Key_X, Qt::AltModifier);
        QVERIFY(stopped.wait(20000));
    }

    void messagesKeepTheirTextsWhateverBytesTheNameHolds()
    {
        // A name from an old medium need not be UTF-8; the language's texts around it
        // must still read as they stand, and the name as the value fields show it.
        profile().setValue(QStringLiteral("Language"), QStringLiteral("russian.lng"));
        Tool tool(m_shipped);
        QVERIFY(tool.window->initialize());
        const std::string name = "caf\xE9.bin";
        tool.window->showJobMessage(ModalPrompts::Icon::Notice,
                                    {text::kFileWord, name, text::kMissingForGet});
        QCOMPARE(tool.prompts.messages.size(), 1);
        QCOMPARE(tool.prompts.messages[0].text,
                 tool.window->text(text::kFileWord) + " " +
                     QFile::decodeName(QByteArray::fromStdString(name)) + "\n" +
                     tool.window->text(text::kMissingForGet));
        QVERIFY(tool.stopAndWait());
    }

    void withoutLanguageFilesTheToolEndsUnstarted()
    {
        testing::TempDir empty;
        Tool none(empty.path());
        QVERIFY(!none.window->initialize());
        QCOMPARE(none.prompts.messages.size(), 1);
        QCOMPARE(none.prompts.messages[0].icon, ModalPrompts::Icon::Error);
        QCOMPARE(none.prompts.messages[0].caption, QStringLiteral("Error"));
        QCOMPARE(none.prompts.messages[0].text, QStringLiteral("Sorry, I can't find language file"));
        QCOMPARE(none.window->workers().count(), 0);
        QCOMPARE(none.window->result(), 0);

        testing::TempDir broken;
        testing::writeFile(broken / "broken.lng", {});
        Tool unloadable(broken.path());
        QVERIFY(!unloadable.window->initialize());
        QCOMPARE(unloadable.prompts.messages.size(), 1);
        QCOMPARE(unloadable.prompts.messages[0].text,
                 QStringLiteral("Sorry, I can't find language file."));
        QCOMPARE(unloadable.window->workers().count(), 0);
    }

    void closingGoesThroughTheStopSequence()
    {
        Tool tool(m_shipped);
        QVERIFY(tool.window->initialize());
        tool.window->show();
        QSignalSpy stopped(tool.window.get(), &ToolWindow::stopped);
        tool.window->close();
        // The close request only asks the worker to stop; the window ends its run later.
        QVERIFY(tool.window->isVisible());
        QVERIFY(!tool.window->finished());
        tool.window->runCommand(tool_command::kExit);
        tool.window->reject();
        // No new job once the tool is closing.
        tool.prompts.fileAnswers = {q(m_shipped / "english.lng")};
        QVERIFY(!tool.window->chooseLog(TransferKind::Get));
        QVERIFY(tool.prompts.fileQuestions.isEmpty());

        QVERIFY(stopped.wait(20000));
        QVERIFY(tool.window->finished());
        QVERIFY(!tool.window->isVisible());
        QCOMPARE(tool.window->result(), 1);
        QCOMPARE(tool.window->workers().count(), 0);
    }

    void getThenPutThroughTheWindow()
    {
        // The log lies in "logs" without its file; the good instance is located in
        // "good"; the damaged copy and its log are in "damaged", whose transfer file is
        // the one that Get writes beside the good instance.
        testing::TempDir root;
        for (const char* folder : {"logs", "good", "damaged"}) {
            fs::create_directory(fs::path(root.path()) / folder);
        }
        const testing::Bytes good = testing::pattern(70000, 7);
        testing::Bytes damaged = good;
        const std::vector<BadRegion> regions = {{100, 50}, {5000, 3000}, {60000, 4000}, {70000, 0}};
        for (std::size_t i = 0; i + 1 < regions.size(); ++i) {
            std::fill_n(damaged.begin() + regions[i].offset, regions[i].length, 0);
        }
        const testing::Bytes log = testing::logBytes("file.bin", regions);
        testing::writeFile(root / "logs/file.bin.log", log);
        testing::writeFile(root / "good/file.bin", good);
        testing::writeFile(root / "damaged/file.bin", damaged);
        testing::writeFile(root / "damaged/file.bin.log", log);
        fs::create_symlink(root / "good/file.bin.mrd", root / "damaged/file.bin.mrd");

        Tool tool(m_shipped);
        QVERIFY(tool.window->initialize());
        tool.window->show();
        tool.prompts.fileAnswers = {q(root / "logs/file.bin.log"), q(root / "damaged/file.bin.log"),
                                    q(root / "good/file.bin")};
        bool finishedDuringJob = true;
        int busyDuringJob = 0;
        tool.prompts.onMessage = [&](const ScriptedPrompts::Message&) {
            // The Get job waits for this answer: exit now, twice.
            tool.window->runCommand(tool_command::kExit);
            tool.window->runCommand(tool_command::kExit);
            finishedDuringJob = tool.window->finished();
            busyDuringJob = tool.window->workers().count();
        };
        tool.window->runCommand(tool_command::kGet);
        tool.window->runCommand(tool_command::kPut);

        QSignalSpy stopped(tool.window.get(), &ToolWindow::stopped);
        QVERIFY(stopped.wait(20000));
        QVERIFY(!finishedDuringJob);
        QCOMPARE(busyDuringJob, 1);
        QVERIFY(tool.window->queue().empty());

        // The data file was not in the log's folder: one notice, then the locate dialog.
        QCOMPARE(tool.prompts.messages.size(), 1);
        QCOMPARE(tool.prompts.messages[0].icon, ModalPrompts::Icon::Notice);
        QCOMPARE(tool.prompts.messages[0].caption, tool.window->text(text::kCaption));
        QCOMPARE(tool.prompts.messages[0].text, tool.window->text(text::kFileWord) + " file.bin\n" +
                                                    tool.window->text(text::kMissingForGet));
        QCOMPARE(tool.prompts.fileQuestions.size(), 3);
        QCOMPARE(tool.prompts.fileQuestions[0].title, tool.window->text(text::kChooseLogTitle));
        QCOMPARE(tool.prompts.fileQuestions[0].filter, QStringLiteral("Tessaly log files (*.log)"));
        QCOMPARE(tool.prompts.fileQuestions[0].suffix, QStringLiteral("log"));
        QCOMPARE(tool.prompts.fileQuestions[1].folder, q(root / "logs"));
        QCOMPARE(tool.prompts.fileQuestions[2].title, tool.window->text(text::kLocateForGet));
        QCOMPARE(tool.prompts.fileQuestions[2].folder, q(root / "logs"));

        // Get ran first (Put reads what it wrote), and Put completed the copy.
        QCOMPARE(testing::readFile(root / "good/file.bin.mrd").size(), std::size_t{7050});
        QVERIFY(testing::readFile(root / "damaged/file.bin") == good);
        QCOMPARE(tool.labelText("dataFrom"), QStringLiteral("file.bin.mrd"));
        QCOMPARE(tool.labelText("dataTo"), QStringLiteral("file.bin"));
        QCOMPARE(tool.labelText("state"), tool.window->text(text::kDone));
        QCOMPARE(tool.progress(), 100);
    }

    void putIntoACopyInUseSaysSoWithoutAskingForIt()
    {
        testing::TempDir root;
        const testing::Bytes damaged = testing::pattern(9000, 3);
        testing::writeFile(root / "file.bin.log",
                           testing::logBytes("file.bin", {{10, 20}, {9000, 0}}));
        testing::writeFile(root / "file.bin", damaged);
        testing::writeFile(root / "file.bin.mrd", testing::pattern(20, 4));
        PlainFile copyRun;
        QVERIFY(copyRun.openExisting(root / "file.bin", Access::Write));
        QVERIFY(copyRun.file()->tryLock());

        Tool tool(m_shipped);
        QVERIFY(tool.window->initialize());
        tool.window->queueJob({"file.bin.log", root.path(), TransferKind::Put});
        QVERIFY(tool.stopAndWait());

        QCOMPARE(tool.prompts.messages.size(), 1);
        QCOMPARE(tool.prompts.messages[0].icon, ModalPrompts::Icon::Error);
        QCOMPARE(tool.prompts.messages[0].text,
                 tool.window->text(text::kFileWord) + " file.bin\n" +
                     tool.window->text(text::kCopyHeldByRun));
        QVERIFY(tool.prompts.fileQuestions.empty());
        QVERIFY(testing::readFile(root / "file.bin") == damaged);
    }

    void aCloseWaitsForAJobThatNeedsTheWindow()
    {
        // After the close, the job needs two answers from the window's thread: it gets
        // them and finishes, and only then does the window close.
        testing::TempDir root;
        const testing::Bytes good = testing::pattern(9000, 3);
        testing::writeFile(root / "file.bin.log", testing::logBytes("file.bin", {{10, 20}, {9000, 0}}));
        fs::create_directory(fs::path(root.path()) / "elsewhere");
        testing::writeFile(root / "elsewhere/file.bin", good);

        Tool tool(m_shipped);
        QVERIFY(tool.window->initialize());
        tool.window->show();
        tool.prompts.fileAnswers = {q(root / "elsewhere/file.bin")};
        bool closedDuringJob = true;
        tool.prompts.onMessage = [&](const ScriptedPrompts::Message&) {
            closedDuringJob = !tool.window->isVisible();
        };
        QSignalSpy stopped(tool.window.get(), &ToolWindow::stopped);
        tool.window->queueJob({"file.bin.log", root.path(), TransferKind::Get});
        tool.window->close();
        QVERIFY(stopped.wait(20000));
        QVERIFY(!closedDuringJob);
        QVERIFY(!tool.window->isVisible());
        QCOMPARE(tool.window->workers().count(), 0);

        QCOMPARE(tool.prompts.messages.size(), 1);
        QCOMPARE(tool.prompts.fileQuestions.size(), 1);
        const testing::Bytes transfer = testing::readFile(root / "elsewhere/file.bin.mrd");
        QVERIFY(transfer == testing::Bytes(good.begin() + 10, good.begin() + 30));
    }

    void destroyingTheWindowUnderAWaitingJobDoesNotHang()
    {
        // Without the close, nobody is left to answer: the job goes on without its
        // answers instead of waiting for a window that is gone.
        testing::TempDir root;
        testing::writeFile(root / "file.bin.log", testing::logBytes("file.bin", {{10, 20}, {9000, 0}}));

        auto tool = std::make_unique<Tool>(m_shipped);
        QVERIFY(tool->window->initialize());
        tool->prompts.fileAnswers = {q(root / "file.bin.log")};
        tool->window->queueJob({"file.bin.log", root.path(), TransferKind::Get});
        tool->window.reset();

        QVERIFY(tool->prompts.messages.isEmpty());
        QVERIFY(tool->prompts.fileQuestions.isEmpty());
        QVERIFY(!fs::exists(root / "file.bin.mrd"));
    }

private:
    QTemporaryDir m_profileDir;
    fs::path m_shipped;
};

QTEST_MAIN(ToolWindowTest)
#include "tool_window_test.moc"
