#include "copier/copier_commands.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>
#include <QToolBar>
#include <QTabWidget>
#include <QtTest>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "copier/copier_window.h"
#include "settings/copying_settings_sheet.h"
#include "settings/general_page.h"
#include "settings/misc_dialog.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/scripted_medium.h"
#include "tests/tool/tool_test_support.h"
#include "texts/language_table.h"
#include "ui/ui_text.h"

using namespace tessaly;
namespace fs = std::filesystem;
using testing::ScriptedPrompts;
using testing::profile;
using testing::q;

namespace {

// A copier window over a scripted medium whose copy of /src/held.bin waits in its first
// write until release is set, so that a run can be looked at while it goes on.
struct HeldCopier
{
    explicit HeldCopier(const fs::path& programFolder)
    {
        medium.addFile("/src/held.bin", std::vector<std::uint8_t>(kSize, 0x5a));
        medium.addFolder("/out");
        medium.setWriteHook("/out/held.bin", [this](std::uint64_t) {
            held = true;
            while (!release.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        CopierWindow::Setup setup;
        setup.programFolder = programFolder;
        setup.quickStart = false;
        setup.fileSystem = &medium;
        setup.driverTiming = {20, 2};
        window = std::make_unique<CopierWindow>(language, prompts, setup);
    }
    ~HeldCopier()
    {
        release = true;
        QSignalSpy exited(window.get(), &CopierWindow::exited);
        window->requestExit();
        if (!window->finished()) {
            exited.wait(20000);
        }
    }
    bool runEnds()
    {
        const RunCounters& run = window->counters();
        return QTest::qWaitFor([&] { return !run.copying.load() && !window->engine().busy(); },
                               20000);
    }
    QAction* menu(quint32 id) const { return window->commands().menuAction(id); }
    QAction* tool(quint32 id) const { return window->commands().toolAction(id); }
    QString text(int id) const { return uiText(language, static_cast<std::uint32_t>(id)); }

    static constexpr std::size_t kSize = 64 * 1024;
    testing::ScriptedMedium medium;
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    ScriptedPrompts prompts;
    LanguageTable language;
    std::unique_ptr<CopierWindow> window;
};

// Every text the window shows from the language file, with where it is shown.
QStringList shownTexts(CopierWindow& window)
{
    QStringList shown;
    for (QAction* top : window.menuBar()->actions()) {
        shown << top->text();
        for (QAction* item : top->menu()->actions()) {
            shown << item->text();
        }
    }
    for (QAction* button : window.commands().toolBar()->actions()) {
        shown << button->toolTip();
    }
    for (const char* name : {"totalSizeLabel", "outputFolderLabel", "timeThisFileLabel",
                             "timeAllFilesLabel", "speedLabel"}) {
        shown << window.findChild<QLabel*>(QLatin1String(name))->text();
    }
    const FileListModel& lines = window.fileList().lines();
    for (int column = 0; column < 3; ++column) {
        shown << lines.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    }
    return shown;
}

QStringList expectedTexts(const LanguageTable& language)
{
    const auto t = [&](int id) { return uiText(language, static_cast<std::uint32_t>(id)); };
    const auto item = [&](int id, const char* label) { return t(id) + u'\t' + QLatin1String(label); };
    return {t(1), item(31, "Ctrl+O"), item(32, "Ctrl+F"), item(191, "Ctrl+I"), QString(),
            item(33, "Ctrl+D"),
            QString(), item(34, "Ctrl+S"), item(35, "Ctrl+A"), QString(), item(143, "Ctrl+E"),
            QString(), item(36, "Alt+X"),
            t(2), item(10, "Ctrl+G"), item(37, "Ctrl+L"), item(38, "Ctrl+R"), QString(),
            item(39, "Ctrl+M"), QString(), item(40, ""),
            t(66), item(67, "Ctrl+H"), item(144, "Ctrl+U"),
            t(3), item(3, ""), QString(), item(41, ""),
            t(31), t(32), t(33), QString(), t(34), QString(), t(35), QString(), t(9), t(39),
            QString(), t(67),
            t(42), t(43), t(69), t(70), t(116), t(4), t(6), t(5)};
}

// Runs answer on the dialog that the next modal loop shows.
void answerNextDialog(std::function<void(QWidget*)> answer)
{
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            answer(dialog);
        }
    });
    timer->start();
}

}  // namespace

class CopierCommandsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_profileDir.isValid());
        m_shipped = testing::useTestProfile(m_profileDir.path());
        QVERIFY2(!m_shipped.empty(), "TESSALY_DATA_DIR is not set");
    }

    void init()
    {
        profile().clear();
        profile().setValue(QStringLiteral("QuickStart"), 0);
        profile().setValue(QStringLiteral("AutoStartCopying"), 0);
        profile().setValue(QStringLiteral("OutFolder"), QStringLiteral("/out"));
    }

    void commandStatesFollowTheRun()
    {
        HeldCopier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        const auto states = [&] {
            return QList<bool>{copier.menu(copier_command::kStartCopying)->isEnabled(),
                               copier.menu(copier_command::kStopCopying)->isEnabled(),
                               copier.tool(copier_command::kStartCopying)->isEnabled(),
                               copier.tool(copier_command::kStartCopying)->isChecked(),
                               copier.tool(copier_command::kStopCopying)->isEnabled()};
        };
        // Empty list: nothing to start or stop.
        QCOMPARE(states(), (QList<bool>{false, false, false, false, false}));
        copier.window->addPaths({QStringLiteral("/src/held.bin")}, CopierWindow::AfterAdd::Nothing);
        QCOMPARE(states(), (QList<bool>{true, false, true, false, false}));  // idle
        copier.window->runCommand(copier_command::kStartCopying);
        QTRY_VERIFY(copier.held.load());
        // Running: the menu's Start is grayed, the toolbar's stays enabled and pressed.
        QCOMPARE(states(), (QList<bool>{false, true, true, true, true}));
        copier.tool(copier_command::kStartCopying)->trigger();
        QCOMPARE(states(), (QList<bool>{false, true, true, true, true}));
        copier.release = true;
        QVERIFY(copier.runEnds());
        QTRY_COMPARE(states(), (QList<bool>{false, false, false, false, false}));  // finished

        copier.window->runCommand(copier_command::kShowDetails);
        QVERIFY(copier.menu(copier_command::kShowDetails)->isChecked());
        QVERIFY(copier.tool(copier_command::kShowDetails)->isChecked());
        copier.tool(copier_command::kShowDetails)->trigger();
        QVERIFY(!copier.menu(copier_command::kShowDetails)->isChecked());
        QVERIFY(!copier.tool(copier_command::kShowDetails)->isChecked());
    }

    void everyLabelledKeyRunsItsCommand()
    {
        QWidget host;
        CopierCommands commands(&host);
        commands.buildMenuBar();
        commands.setTexts([](int id) { return QString::number(id); });
        host.show();
        host.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&host));
        QSignalSpy triggered(&commands, &CopierCommands::triggered);
        QList<quint32> expected;
        for (const MenuCommand& command : CopierCommands::commands()) {
            if (*command.key == '\0') continue;
            QTest::keySequence(&host, QKeySequence(QLatin1String(command.key)));
            expected << command.id;
            // The label after the tab is the key that runs the item.
            if (const QAction* item = commands.menuAction(command.id)) {
                QVERIFY(item->text().endsWith(u'\t' + QLatin1String(command.key)));
            }
        }
        QCOMPARE(triggered.size(), 15);
        // Twelve toolbar slots: eight buttons with their images, four separators.
        const QList<QAction*> toolSlots = commands.toolBar()->actions();
        QCOMPARE(toolSlots.size(), 12);
        int buttons = 0;
        for (const QAction* slot : toolSlots) {
            if (!slot->isSeparator()) {
                ++buttons;
                QCOMPARE(slot->icon().pixmap(QSize(30, 25)).size(), QSize(30, 25));
            }
        }
        QCOMPARE(buttons, 8);
        for (int i = 0; i < triggered.size(); ++i) {
            QCOMPARE(triggered.at(i).at(0).toUInt(), expected.at(i));
        }
        // A grayed item's key does nothing.
        commands.updateCommandStates({true, true, false});
        QTest::keySequence(&host, QKeySequence(QStringLiteral("Ctrl+S")));
        QTest::keySequence(&host, QKeySequence(QStringLiteral("Ctrl+A")));
        QCOMPARE(triggered.size(), 16);
        QCOMPARE(triggered.last().at(0).toUInt(), copier_command::kStopCopying);
    }

    void aLanguageSwitchRetextsTheWindowAndLeavesTheCopyAlone()
    {
        HeldCopier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        QCOMPARE(shownTexts(*copier.window), expectedTexts(copier.language));
        copier.window->addPaths({QStringLiteral("/src/held.bin")}, CopierWindow::AfterAdd::Start);
        QTRY_VERIFY(copier.held.load());

        QMenu* languages = copier.window->commands().languageMenu();
        QCOMPARE(languages->actions().size(), 3);
        QSet<QString> firstTexts;
        for (int i = 0; i < 3; ++i) {
            const quint32 id = copier_command::kLanguageFirst + static_cast<quint32>(i);
            copier.window->runCommand(id);
            QCOMPARE(shownTexts(*copier.window), expectedTexts(copier.language));
            firstTexts.insert(copier.menu(copier_command::kAddFiles)->text());
            languages = copier.window->commands().languageMenu();
            QVERIFY(languages->actions().at(i)->isChecked());
            QCOMPARE(profile().value(QStringLiteral("Language")).toString(),
                     q(*copier.language.languageFile(static_cast<std::size_t>(i))));
            // The run goes on, its line and its state untouched.
            QVERIFY(copier.window->counters().copying.load());
            QCOMPARE(copier.window->fileList().lines().rowCount(), 1);
            QVERIFY(copier.menu(copier_command::kStopCopying)->isEnabled());
        }
        QCOMPARE(firstTexts.size(), 3);  // three languages, three texts
        copier.release = true;
        QVERIFY(copier.runEnds());
        QVERIFY(copier.medium.contents("/out/held.bin") == std::vector<std::uint8_t>(HeldCopier::kSize, 0x5a));
        QVERIFY(copier.prompts.messages.isEmpty());
    }

    // A picked language that does not load leaves the window in the first one found while
    // the profile keeps the pick; when none loads any more, the window says so in English
    // and ends.
    void aLanguageThatFailsFallsBackOrEndsTheWindow()
    {
        testing::TempDir folder;
        fs::copy_file(m_shipped / "english.lng", folder / "english.lng");
        testing::writeFile(folder / "zz-broken.lng", {});
        HeldCopier copier(folder.path());
        QVERIFY(copier.window->initialize());
        QCOMPARE(copier.window->commands().languageMenu()->actions().size(), 2);
        // The folder's listing order decides which file is the first one found.
        const bool englishFirst = *copier.language.languageFile(0) == "english.lng";
        const quint32 broken = copier_command::kLanguageFirst + (englishFirst ? 1 : 0);
        QSignalSpy exited(copier.window.get(), &CopierWindow::exited);
        copier.window->runCommand(broken);
        QCOMPARE(profile().value(QStringLiteral("Language")).toString(), QStringLiteral("zz-broken.lng"));
        if (englishFirst) {
            QCOMPARE(copier.window->settings().language, std::string("english.lng"));
            QVERIFY(copier.window->commands().languageMenu()->actions().at(0)->isChecked());
            QCOMPARE(shownTexts(*copier.window), expectedTexts(copier.language));
            QVERIFY(copier.prompts.messages.isEmpty());
            testing::writeFile(folder / "english.lng", {});
            copier.window->runCommand(copier_command::kLanguageFirst);
        }
        QCOMPARE(copier.prompts.messages.size(), 1);
        QCOMPARE(copier.prompts.messages[0].caption, QStringLiteral("Error"));
        QCOMPARE(copier.prompts.messages[0].text,
                 QStringLiteral("Sorry, I can't find language file. Please reinstall application"));
        QVERIFY(copier.window->exiting());
        QVERIFY(exited.wait(20000));
    }

    void settingsFromTheSheetActAtOnceAndSurviveARestart()
    {
        {
            HeldCopier copier(m_shipped);
            QVERIFY(copier.window->initialize());
            QVERIFY(copier.window->engine().settings().createLog);
            answerNextDialog([](QWidget* dialog) {
                auto* sheet = qobject_cast<CopyingSettingsSheet*>(dialog);
                QVERIFY(sheet);
                QCOMPARE(sheet->tabs()->currentIndex(), 0);
                auto* general = static_cast<GeneralPage*>(sheet->page(CopyingSettingsSheet::Page::General));
                general->createLogBox()->setChecked(false);
                sheet->okButton()->click();
            });
            copier.window->runCommand(copier_command::kGeneralSettings);
            QVERIFY(!copier.window->engine().settings().createLog);
            // Cancel changes nothing.
            answerNextDialog([](QWidget* dialog) {
                auto* sheet = qobject_cast<CopyingSettingsSheet*>(dialog);
                QVERIFY(sheet);
                QCOMPARE(sheet->tabs()->currentIndex(), 2);
                static_cast<GeneralPage*>(sheet->page(CopyingSettingsSheet::Page::General))
                    ->createLogBox()
                    ->setChecked(true);
                sheet->cancelButton()->click();
            });
            copier.window->runCommand(copier_command::kReservedSettings);
            QVERIFY(!copier.window->engine().settings().createLog);
            answerNextDialog([](QWidget* dialog) {
                auto* misc = qobject_cast<MiscDialog*>(dialog);
                QVERIFY(misc);
                misc->autoStartBox()->setChecked(true);
                misc->okButton()->click();
            });
            copier.window->runCommand(copier_command::kMiscSettings);
            QCOMPARE(copier.window->settings().autoStartCopying, 1);
            // The next copy runs without a log.
            copier.release = true;
            copier.window->addPaths({QStringLiteral("/src/held.bin")}, CopierWindow::AfterAdd::Start);
            QVERIFY(copier.runEnds());
            QVERIFY(copier.medium.exists("/out/held.bin"));
            QVERIFY(!copier.medium.exists("/out/held.bin.log"));
        }
        QCOMPARE(profile().value(QStringLiteral("CreateLog")).toInt(), 0);
        QCOMPARE(profile().value(QStringLiteral("AutoStartCopying")).toInt(), 1);
        HeldCopier again(m_shipped);
        QVERIFY(again.window->initialize());
        QVERIFY(!again.window->engine().settings().createLog);
        QCOMPARE(again.window->settings().autoStartCopying, 1);
    }

    void helpOpensTheContentsAndF1TheWindowsPage()
    {
        HeldCopier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        copier.window->runCommand(copier_command::kHelpContents);
        copier.window->runCommand(copier_command::kHelpContext);
        QCOMPARE(copier.prompts.helpPages.size(), 2);
        const QString folder = q(m_shipped);
        QCOMPARE(copier.prompts.helpPages[0], helpPage(folder, 0));
        QCOMPARE(copier.prompts.helpPages[1], helpPage(folder, 4));
    }

private:
    QTemporaryDir m_profileDir;
    fs::path m_shipped;
};

QTEST_MAIN(CopierCommandsTest)
#include "copier_commands_test.moc"
