#include "copier/copier_window.h"

#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QProgressBar>
#include <QSettings>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>
#include <memory>

#include "copier/volume_picker.h"
#include "tests/gui/block_map_test_support.h"
#include "tests/gui/gui_test_support.h"
#include "tests/medium/medium_mount.h"
#include "tests/support/scripted_medium.h"
#include "tests/tool/tool_test_support.h"
#include "tests/volume/volume_image_files.h"
#include "texts/language_table.h"
#include "ui/block_map_control.h"
#include "ui/dialog_units.h"
#include "ui/modal_prompts.h"
#include "ui/size_format.h"
#include "ui/ui_text.h"

using namespace tessaly;
namespace fs = std::filesystem;
using testing::ScriptedPrompts;
using testing::profile;
using testing::q;

namespace {

// Answers the next tree of an image's files to pick from: pick acts on it, then OK, or
// Cancel when accept is false.
void answerPicker(std::function<void(VolumePicker&)> pick, bool accept = true)
{
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, pick = std::move(pick), accept] {
        auto* picker = qobject_cast<VolumePicker*>(QApplication::activeModalWidget());
        if (picker == nullptr) return;
        poll->deleteLater();
        pick(*picker);
        accept ? picker->accept() : picker->reject();
    });
    poll->start(20);
}

// Builds a floppy image of testing::sampleFiles() at image, and gives the runs of its
// files and folders by path in *tree (none when the image cannot be read); why not, when
// it cannot be built.
std::string buildFloppy(const fs::path& image, std::map<std::string, VolumeFileInfo>* tree)
{
    const std::string missing = testing::buildImage("fat12", testing::sampleFiles(), image);
    std::string error;
    const std::unique_ptr<Volume> clean =
        missing.empty() ? Volume::open(systemFileSystem(), image, {}, &error) : nullptr;
    if (clean) *tree = testing::walkVolume(*clean);
    return missing;
}

// The item of a picker's tree at names, from its top.
QTreeWidgetItem* pickerItem(VolumePicker& picker, const QStringList& names)
{
    QTreeWidgetItem* item = picker.tree()->invisibleRootItem();
    for (const QString& name : names) {
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < item->childCount(); ++i) {
            if (item->child(i)->text(0) == name) next = item->child(i);
        }
        if (next == nullptr) return nullptr;
        next->setExpanded(true);
        item = next;
    }
    return item;
}


// A copier window over a language folder, without quick start unless asked, over the
// system's files or a scripted medium.
struct Copier
{
    explicit Copier(const fs::path& programFolder, bool quickStart = false,
                    FileSystem* fileSystem = nullptr)
    {
        CopierWindow::Setup setup;
        setup.programFolder = programFolder;
        setup.quickStart = quickStart;
        setup.fileSystem = fileSystem;
        setup.driverTiming = {20, 2};
        window = std::make_unique<CopierWindow>(language, prompts, setup);
    }

    // Lists paths and starts the run; true once the driver has ended it.
    bool copy(const QStringList& paths)
    {
        window->addPaths(paths, CopierWindow::AfterAdd::Start);
        return runEnds();
    }
    bool runEnds()
    {
        const RunCounters& run = window->counters();
        return QTest::qWaitFor([&] {
            return window->workerCount() == 1 && !run.copying.load() && !window->engine().busy() &&
                   run.entryCount.load() > 0;
        }, 20000);
    }
    std::vector<int> icons() const
    {
        std::vector<int> shown;
        const FileListModel& lines = window->fileList().lines();
        for (int row = 0; row < lines.rowCount(); ++row) shown.push_back(lines.icon(row));
        return shown;
    }

    // Exit, then wait until the window has ended its run.
    bool exitAndWait()
    {
        QSignalSpy exited(window.get(), &CopierWindow::exited);
        window->requestExit();
        return window->finished() || exited.wait(20000);
    }
    QString field(const char* name) const
    {
        return window->findChild<QLabel*>(QLatin1String(name))->text();
    }
    QString text(int id) const { return uiText(language, static_cast<std::uint32_t>(id)); }
    // Picks language file name from the Language menu, as the user does.
    bool chooseLanguage(const std::string& name)
    {
        for (std::size_t i = 0; const std::optional<std::string> file = language.languageFile(i); ++i) {
            if (*file == name) {
                window->chooseLanguage(copier_command::kLanguageFirst + static_cast<quint32>(i));
                return true;
            }
        }
        return false;
    }
    // The whole list's bar and its percent, which must agree.
    int totalPercent() const
    {
        const int bar = window->findChild<QProgressBar*>(QStringLiteral("totalBar"))->value();
        return field("totalPercent") == QString::number(bar) + u'%' ? bar : -1;
    }

    ScriptedPrompts prompts;
    LanguageTable language;
    std::unique_ptr<CopierWindow> window;
};

}  // namespace

// Mounts the medium in a test function; skips the test when this system has no FUSE.
#define MOUNT_OR_SKIP(medium)                                                           \
    do {                                                                                \
        const MediumMount::MountResult mounted = (medium).mount();                      \
        if (mounted.outcome == MediumMount::Outcome::Unavailable) {                     \
            QSKIP(qPrintable(QStringLiteral("SKIPPED: ") + q(mounted.reason)));         \
        }                                                                               \
        QVERIFY2(mounted.outcome == MediumMount::Outcome::Mounted, mounted.reason.c_str()); \
    } while (false)

class CopierWindowTest : public QObject
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
    }

    void withoutLanguageFilesTheProgramEnds()
    {
        testing::TempDir empty;
        Copier copier(empty.path());
        QVERIFY(!copier.window->initialize());
        QCOMPARE(copier.prompts.messages.size(), 1);
        QCOMPARE(copier.prompts.messages[0].icon, ModalPrompts::Icon::Error);
        QCOMPARE(copier.prompts.messages[0].caption, QStringLiteral("Error"));
        QCOMPARE(copier.prompts.messages[0].text,
                 QStringLiteral("Sorry, I can't find language file. Please reinstall application"));
        QCOMPARE(copier.window->result(), 0);
        QCOMPARE(copier.window->workerCount(), 0);
    }

    void theWindowOpensWithItsTextsAtItsSize()
    {
        Copier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        copier.window->show();
        QCOMPARE(copier.window->windowTitle(), QStringLiteral("Tessaly"));
        QVERIFY(!copier.window->windowIcon().pixmap(32, 32).isNull());
        QCOMPARE(copier.field("totalSizeLabel"), copier.text(42));
        QCOMPARE(copier.field("outputFolderLabel"), copier.text(43));
        QCOMPARE(copier.field("outputFolder"), copier.text(44));
        QCOMPARE(copier.field("timeThisFileLabel"), copier.text(69));
        QCOMPARE(copier.field("speedLabel"), copier.text(116));
        QCOMPARE(copier.field("totalSize"), QStringLiteral("0"));
        QCOMPARE(copier.field("filePercent"), QStringLiteral("0%"));
        const QList<QAction*> file = copier.window->menuBar()->actions().at(0)->menu()->actions();
        QCOMPARE(file.at(0)->text(), copier.text(31) + "\tCtrl+O");
        QCOMPARE(file.at(2)->text(), copier.text(191) + "\tCtrl+I");
        QCOMPARE(file.at(9)->text(), copier.text(143) + "\tCtrl+E");
        QCOMPARE(file.at(11)->text(), copier.text(36) + "\tAlt+X");
        QVERIFY(!file.at(6)->isEnabled());  // Start: nothing to copy
        QVERIFY(!file.at(7)->isEnabled());  // Stop: no run

        const QSize size = copier.window->size();
        QCOMPARE(copier.window->minimumSize(), size);
        QCOMPARE(copier.window->maximumSize(), size);
        const QFontMetrics metrics(copier.window->font());
        QVERIFY(size.height() - copier.window->menuBar()->height() >= 226 * metrics.height() / 8);

        FileListControl& list = copier.window->fileList();
        QCOMPARE(list.lines().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), copier.text(4));
        QCOMPARE(list.lines().headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), copier.text(5));
        const int w = list.viewport()->width();
        QCOMPARE(list.header()->sectionSize(0), w - 2 * (w / 5));
        QCOMPARE(list.header()->sectionSize(1), w / 5);
        QVERIFY(copier.exitAndWait());
    }

    void addFilesReportsWhatCannotBeOpened()
    {
        profile().setValue(QStringLiteral("AutoStartCopying"), 0);
        testing::TempDir root;
        testing::writeFile(root / "a.bin", testing::pattern(1536));
        Copier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        copier.prompts.filesAnswers = {{q(root / "missing.bin"), q(root / "a.bin")}};
        copier.window->runCommand(copier_command::kAddFiles);

        QCOMPARE(copier.prompts.fileQuestions.size(), 1);
        QCOMPARE(copier.prompts.fileQuestions[0].title, copier.text(31));
        QCOMPARE(copier.prompts.messages.size(), 1);
        QCOMPARE(copier.prompts.messages[0].caption, copier.text(23));
        QCOMPARE(copier.prompts.messages[0].text,
                 copier.text(14) + " " + q(root / "missing.bin") + "\n" + copier.text(24));
        const FileListControl& list = copier.window->fileList();
        QCOMPARE(list.lines().rowCount(), 1);
        QCOMPARE(list.lines().entry(0).name, root / "a.bin");
        QCOMPARE(*list.lines().entry(0).baseFolder, std::string());
        QCOMPARE(copier.field("totalSize"), QStringLiteral("1.5 Kb"));
        QCOMPARE(copier.window->counters().entryCount.load(), 1u);
        QVERIFY(!copier.window->counters().copying.load());
        QVERIFY(copier.exitAndWait());
    }

    void quickStartAsksForTheOutputFolderFirst()
    {
        profile().setValue(QStringLiteral("QuickStart"), 2);
        profile().setValue(QStringLiteral("AutoStartCopying"), 0);
        {
            Copier cancelled(m_shipped, true);
            QVERIFY(cancelled.window->initialize());
            cancelled.window->show();
            QTRY_COMPARE(cancelled.prompts.folderTitles.size(), 1);
            QCOMPARE(cancelled.prompts.folderTitles[0], cancelled.text(8));
            QVERIFY(cancelled.exitAndWait());
            QVERIFY(cancelled.prompts.fileQuestions.isEmpty());
        }
        testing::TempDir out;
        Copier copier(m_shipped, true);
        copier.prompts.folderAnswers = {q(out.path())};
        QVERIFY(copier.window->initialize());
        copier.window->show();
        QTRY_COMPARE(copier.prompts.fileQuestions.size(), 1);
        QCOMPARE(copier.field("outputFolder"), q(out.path()));
        QVERIFY(copier.exitAndWait());
    }

    void anOutputFolderForThisRunLeavesTheStoredOne()
    {
        profile().setValue(QStringLiteral("OutFolder"), QStringLiteral("/kept"));
        {
            Copier copier(m_shipped);
            QVERIFY(copier.window->initialize());
            copier.window->useOutputFolderForThisRun("/tmp/this-run");
            QCOMPARE(copier.field("outputFolder"), QStringLiteral("/tmp/this-run"));
            QCOMPARE(copier.window->settings().outputFolder, std::string("/tmp/this-run"));
            QVERIFY(copier.exitAndWait());
        }
        QCOMPARE(profile().value(QStringLiteral("OutFolder")).toString(), QStringLiteral("/kept"));
    }

    void everyWayOfClosingGoesThroughRequestExit()
    {
        Copier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        copier.window->show();
        QSignalSpy exited(copier.window.get(), &CopierWindow::exited);
        copier.window->close();
        QTest::keyClick(copier.window.get(), Qt::Key_Escape);
        copier.window->runCommand(copier_command::kExit);
        QVERIFY(copier.window->exiting());
        // Nothing starts once the window is closing.
        copier.window->startCopying();
        QVERIFY(!copier.window->counters().copying.load());
        QVERIFY(exited.wait(20000));
        QCOMPARE(exited.count(), 1);
        QVERIFY(!copier.window->isVisible());
        QCOMPARE(copier.window->result(), 1);
    }

    // A stop signal ends the window as Exit does, also while a dialog of the window
    // runs its own loop: the dialog is ended first, so that the window's run can end.
    void aStopSignalEndsTheWindowThroughAnOpenDialog()
    {
        Copier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        copier.window->watchStopSignals();
        copier.window->show();
        QSignalSpy exited(copier.window.get(), &CopierWindow::exited);
        bool aboutEnded = false;
        bool rescued = false;
        QTimer::singleShot(0, copier.window.get(), [&] {
            copier.window->showAbout();
            aboutEnded = true;
        });
        QTimer::singleShot(200, copier.window.get(), [] { std::raise(SIGTERM); });
        // Should the dialog stay, end it late, so that the test fails instead of hanging.
        QTimer::singleShot(8000, qApp, [&] {
            if (QWidget* open = QApplication::activeModalWidget();
                open != nullptr && open != copier.window.get()) {
                rescued = true;
                open->close();
            }
        });
        QVERIFY(QTest::qWaitFor([&] { return aboutEnded; }, 10000));
        QVERIFY(!rescued);
        QVERIFY(exited.count() == 1 || exited.wait(5000));
        QVERIFY(copier.window->exiting());
        QCOMPARE(copier.window->result(), 1);
    }

    void theQuestionsFollowTheirDontAskFlags()
    {
        profile().setValue(QStringLiteral("DontAskConfirmForExistings"), 0);
        testing::ScriptedMedium medium;
        const std::vector<std::uint8_t> data(8192, 7);
        medium.addFile("/src/bad.bin", data);
        medium.markBad("/src/bad.bin", 2048, 512);
        medium.addFile("/src/kept.bin", std::string("new"));
        medium.addFile("/out/kept.bin", std::string("old"));
        Copier copier(m_shipped, false, &medium);
        QVERIFY(copier.window->initialize());
        copier.window->useOutputFolderForThisRun("/out");
        // The reserved copy: asked with the check box, which is ticked, and declined; the
        // existing copy: asked, and refused.
        copier.prompts.promptAnswers = {{2, true}, {2, false}};
        QVERIFY(copier.copy({"/src/bad.bin", "/src/kept.bin"}));

        QCOMPARE(copier.prompts.prompts.size(), 2);
        const ModalPrompts::Prompt& reserved = copier.prompts.prompts[0];
        QCOMPARE(reserved.caption, copier.text(16));
        QCOMPARE(reserved.message, copier.text(15));
        QVERIFY(reserved.offerCheck);
        QCOMPARE(reserved.firstButton, copier.text(17));
        const ModalPrompts::Prompt& existing = copier.prompts.prompts[1];
        QCOMPARE(existing.message, copier.text(77));
        QCOMPARE(existing.caption, copier.text(21));
        QVERIFY(copier.prompts.messages.isEmpty());  // a refused existing copy is no failure to report
        QCOMPARE(copier.icons(), (std::vector<int>{5, 4}));  // filled: damaged; refused
        QCOMPARE(medium.text("/out/kept.bin"), std::string("old"));
        QCOMPARE(copier.window->settings().dontAskForAddReserveds, 1);

        // Ticked: the next bad sector is filled without a question.
        copier.window->fileList().selectAll();
        QVERIFY(copier.window->fileList().deleteSelected());
        medium.removeFile("/out/bad.bin");
        medium.removeFile("/out/bad.bin.log");
        QVERIFY(copier.copy({"/src/bad.bin"}));
        QCOMPARE(copier.prompts.prompts.size(), 2);
        QCOMPARE(copier.icons(), (std::vector<int>{5}));
        QVERIFY(copier.exitAndWait());
    }

    // An output folder that cannot take the copies is said once at Start, by its own
    // path, and nothing runs; a usable one then starts the run.
    void anUnusableOutputFolderIsSaidOnceAtStart()
    {
        profile().setValue(QStringLiteral("AutoStartCopying"), 0);
        testing::ScriptedMedium medium;
        medium.addFile("/media/card/docs/a.bin", std::string(1000, 'a'));
        medium.addFile("/media/card/docs/b.bin", std::string(1000, 'b'));
        medium.addFolder("/media/card/docs/rescued");
        medium.addFolder("/out");
        Copier copier(m_shipped, false, &medium);
        QVERIFY(copier.window->initialize());
        const struct
        {
            const char* output;
            int why;
        } rows[] = {{"/media/card/docs/rescued", 189}, {"/gone", 187}};
        for (const auto& row : rows) {
            copier.window->useOutputFolderForThisRun(row.output);
            copier.prompts.messages.clear();
            if (copier.window->fileList().lines().rowCount() == 0) {
                copier.window->addPaths({QStringLiteral("/media/card/docs")},
                                        CopierWindow::AfterAdd::Start);
            } else {
                copier.window->runCommand(copier_command::kStartCopying);
            }
            QTRY_COMPARE(copier.prompts.messages.size(), 1);
            QCOMPARE(copier.prompts.messages[0].text,
                     copier.text(186) + u' ' + q(row.output) + u'\n' + copier.text(row.why));
            QVERIFY(!copier.window->counters().copying.load());
        }
        QCOMPARE(copier.icons(), (std::vector<int>{0, 0}));
        copier.window->useOutputFolderForThisRun("/out");
        copier.window->runCommand(copier_command::kStartCopying);
        QVERIFY(copier.runEnds());
        QCOMPARE(copier.icons(), (std::vector<int>{2, 2}));
        QCOMPARE(copier.prompts.messages.size(), 1);
        QVERIFY(copier.exitAndWait());
    }

    void aFolderOfTheDamagedMediumIsCopiedWhole()
    {
        MediumMount medium;
        const std::string a = MediumMount::patternBytes(70000, 1);
        const std::string b = MediumMount::patternBytes(40 * 512, 2);
        medium.addImage("disk/a.bin", a);
        medium.addImage("disk/sub/b.bin", b, "bad 3\nbad 10-11\n");
        medium.addImage("disk/empty.bin", std::string());
        MOUNT_OR_SKIP(medium);
        testing::TempDir out;
        Copier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        copier.window->useOutputFolderForThisRun(out.path());
        QVERIFY(copier.copy({q(medium.path("disk"))}));

        const FileListModel& lines = copier.window->fileList().lines();
        for (int row = 0; row < lines.rowCount(); ++row) {
            // The copy with filled sectors has an icon of its own.
            QCOMPARE(lines.icon(row), lines.entry(row).name.ends_with("b.bin") ? 5 : 2);
            QCOMPARE(lines.entry(row).state, EntryState::Done);
            QCOMPARE(q(*lines.entry(row).baseFolder), q(medium.mountPoint() + "/"));
        }
        QVERIFY(copier.prompts.messages.isEmpty());
        std::string expected = b;
        for (const std::size_t sector : {3, 10, 11}) {
            std::fill_n(expected.begin() + sector * 512, 512, '\0');
        }
        QVERIFY(testing::readText(out / "disk/a.bin") == a);
        QVERIFY(testing::readText(out / "disk/sub/b.bin") == expected);
        QVERIFY(fs::exists(out / "disk/empty.bin"));
        QCOMPARE(copier.field("filePercent"), QStringLiteral("100%"));
        QCOMPARE(copier.field("totalPercent"), QStringLiteral("100%"));
        QVERIFY(copier.exitAndWait());
    }

    // At the end of a run the window says which files are damaged, shows only those on
    // request, and saves the report that tessaly-cli writes for the same copies.
    void theRunsReportNamesTheDamagedFiles()
    {
        MediumMount medium;
        medium.addImage("disk/a.bin", MediumMount::patternBytes(70000, 1));
        medium.addImage("disk/sub/b.bin", MediumMount::patternBytes(40 * 512, 2), "bad 3\nbad 10-11\n");
        medium.addImage("disk/c, \"d\".bin", MediumMount::patternBytes(3000, 3));
        MOUNT_OR_SKIP(medium);
        testing::TempDir out;
        Copier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        copier.window->useOutputFolderForThisRun(out.path());
        QVERIFY(!copier.window->report().summary()->isVisible());
        QVERIFY(copier.copy({q(medium.path("disk"))}));
        QTRY_VERIFY(copier.window->report().summary()->isVisibleTo(copier.window.get()));
        ReportSummary expected;
        expected.files[static_cast<int>(ReportState::Complete)] = 2;
        expected.files[static_cast<int>(ReportState::Damaged)] = 1;
        expected.notRead = 3 * 512;
        QCOMPARE(copier.window->report().summary()->text(),
                 RunReportView::summaryText(expected, [&](int id) { return copier.text(id); }));

        FileListControl& list = copier.window->fileList();
        const auto onlyDamagedShown = [&] {
            for (int row = 0; row < list.lines().rowCount(); ++row) {
                const bool damaged = list.lines().entry(row).name.ends_with("sub/b.bin");
                if (list.isRowHidden(row, QModelIndex()) == damaged) return false;
            }
            return true;
        };
        // Each line's tooltip says how its copy ended, below its path.
        for (int row = 0; row < list.lines().rowCount(); ++row) {
            const bool damaged = list.lines().entry(row).name.ends_with("sub/b.bin");
            QCOMPARE(list.lines().data(list.lines().index(row, 0), Qt::ToolTipRole).toString(),
                     q(list.lines().entry(row).name) + u'\n' + copier.text(damaged ? 182 : 181));
        }
        copier.window->runCommand(copier_command::kShowDamagedOnly);
        QVERIFY(onlyDamagedShown());
        copier.window->runCommand(copier_command::kShowDamagedOnly);
        for (int row = 0; row < list.lines().rowCount(); ++row) {
            QVERIFY(!list.isRowHidden(row, QModelIndex()));
        }

        const fs::path saved = out / "window.csv";
        copier.prompts.fileAnswers = {q(saved.string())};
        copier.window->runCommand(copier_command::kSaveReport);
        QVERIFY(copier.prompts.messages.isEmpty());
        const std::string csv = testing::readText(saved);
        QVERIFY(csv.find(",damaged,18944,1536,2,") != std::string::npos);
        QVERIFY(csv.find("\"" + medium.path("disk/c, \"\"d\"\".bin") + "\",3000,complete,") !=
                std::string::npos);
        // The same copies again from the terminal: the same report, line for line.
        const fs::path fromCli = out / "cli.csv";
        const QString cli = qEnvironmentVariable("TESSALY_BIN_DIR") + QStringLiteral("/tessaly-cli");
        QCOMPARE(QProcess::execute(cli, {QStringLiteral("copy"), QStringLiteral("--quiet"),
                                         QStringLiteral("--report=") + q(fromCli.string()),
                                         q(medium.path("disk")), q(out.path())}),
                 1);
        QVERIFY(testing::readText(fromCli) == csv);

        // The view follows the lines through a sort and takes new lines as they come.
        copier.window->runCommand(copier_command::kShowDamagedOnly);
        QVERIFY(list.sortBy(1));
        QVERIFY(onlyDamagedShown());
        copier.window->addPaths({q(medium.path("disk/a.bin"))}, CopierWindow::AfterAdd::Nothing);
        QTRY_COMPARE(list.lines().rowCount(), 4);
        QVERIFY(onlyDamagedShown());
        QVERIFY(copier.exitAndWait());
    }

    void showDetailsWidensTheWindowAndIsKeptInTheProfile()
    {
        int narrow = 0;
        {
            Copier copier(m_shipped);
            QVERIFY(copier.window->initialize());
            copier.window->show();
            BlockMapControl& map = copier.window->detailView();
            QCOMPARE(copier.window->settings().showDetails, 0);
            narrow = copier.window->width();
            QCOMPARE(map.x(), narrow);  // hidden beyond the right edge
            const QPoint place = copier.window->pos();
            const int height = copier.window->height();

            copier.window->runCommand(copier_command::kShowDetails);
            QCOMPARE(copier.window->settings().showDetails, 1);
            QVERIFY(map.isVisible());
            QCOMPARE(copier.window->width(), map.geometry().right() + 1 + 10);
            QCOMPARE(map.size(), dialogUnits(copier.window->font(), 171, 182));
            QVERIFY(map.y() >= copier.window->menuBar()->height());
            QCOMPARE(copier.window->height(), height);
            QCOMPARE(copier.window->pos(), place);
            QVERIFY(copier.window->fileList().geometry().right() < map.x());
            const QAction* view = copier.window->menuBar()->actions().at(2)->menu()->actions().at(0);
            QCOMPARE(view->text(), copier.text(67) + "\tCtrl+H");
            QVERIFY(view->isChecked());

            QTest::keyClick(&map, Qt::Key_F1);
            QCOMPARE(copier.prompts.helpPages, QList<QUrl>{helpPage(q(m_shipped), 10)});

            copier.window->toggleDetails();
            QCOMPARE(copier.window->width(), narrow);
            QVERIFY(!view->isChecked());
            copier.window->toggleDetails();
            QVERIFY(copier.exitAndWait());
        }
        // Shown at exit, shown at the next start; closing the view's frame hides it.
        Copier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        copier.window->show();
        QCOMPARE(copier.window->settings().showDetails, 1);
        QVERIFY(copier.window->width() > narrow);
        QVERIFY(!copier.window->detailView().close());  // the window hides it instead
        QCOMPARE(copier.window->settings().showDetails, 0);
        QCOMPARE(copier.window->width(), narrow);
        QVERIFY(copier.exitAndWait());
    }

    void theDetailViewShowsTheLogsRegionsInRed()
    {
        MediumMount medium;
        medium.addImage("disk/a.bin", MediumMount::patternBytes(1024 * 512, 7),
                        "bad 10-11\nbad 63\nbad 100\nbad 401-409\nbad 1023\nslow 0-1023 2\n");
        MOUNT_OR_SKIP(medium);
        profile().setValue(QStringLiteral("ShowDetails"), 1);
        testing::TempDir out;
        Copier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        copier.window->show();
        copier.window->useOutputFolderForThisRun(out.path());
        BlockMapControl& map = copier.window->detailView();
        copier.window->addPaths({q(medium.path("disk/a.bin"))}, CopierWindow::AfterAdd::Start);
        // The map follows the copy while it runs.
        QVERIFY(QTest::qWaitFor([&] {
            const BlockMapProgress shown = map.layout().progress();
            return shown.done > 0 && shown.done < shown.total;
        }, 20000));
        QVERIFY(copier.runEnds());
        QCOMPARE(copier.icons(), (std::vector<int>{5}));

        const std::vector<BadRegion> regions =
            testing::logRegions(copier.window->engine().destinationPath() + ".log");
        QVERIFY(!regions.empty());
        const BlockMapGrid& grid = map.layout().grid();
        const std::set<int> expected = testing::cellsOf(regions, grid);
        QVERIFY(expected.count(0) == 0 && expected.size() >= 5);
        QVERIFY(testing::cellsOfColour(map, QColor(255, 0, 0)) == expected);
        QVERIFY(testing::cellsOfColour(map, QColor(0, 255, 0)).empty());  // the copy is over
        QVERIFY(testing::cellsOfColour(map, QColor(0, 0, 255)).count(0) == 1);
        QVERIFY(copier.exitAndWait());
    }

    void aMediumTakenOutStopsTheRunAndPutBackItCompletes()
    {
        MediumMount medium;
        const std::string big = MediumMount::patternBytes(1024 * 512, 3);
        medium.addImage("disk/big.bin", big, "remove-after 200000\n");
        medium.addImage("disk/small.bin", MediumMount::patternBytes(4096, 4));
        MOUNT_OR_SKIP(medium);
        testing::TempDir out;
        Copier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        copier.window->useOutputFolderForThisRun(out.path());
        QVERIFY(copier.copy({q(medium.path("disk/big.bin")), q(medium.path("disk/small.bin"))}));
        QCOMPARE(copier.icons(), (std::vector<int>{3, 0}));
        QCOMPARE(copier.window->counters().currentIndex.load(), 0u);
        QVERIFY(copier.prompts.messages.isEmpty());

        medium.unmount();
        medium.addImage("disk/big.bin", big, "sector 512\n");
        MOUNT_OR_SKIP(medium);
        copier.window->runCommand(copier_command::kStartCopying);
        QVERIFY(copier.runEnds());
        QCOMPARE(copier.icons(), (std::vector<int>{2, 2}));
        QVERIFY(testing::readText(out / "big.bin") == big);
        QVERIFY(copier.prompts.messages.isEmpty());
        QVERIFY(copier.exitAndWait());
    }

    // With Wait for a removed medium, the run waits with the line current and says so;
    // another medium under the name is named as such and never copied; Stop ends it all.
    void waitingForAMediumShowsItsStatusAndStopEndsIt()
    {
        profile().setValue(QStringLiteral("WaitForMedium"), 1);
        testing::ScriptedMedium medium;
        medium.addFolder("/out");
        medium.addFile("/src/a.bin", std::vector<std::uint8_t>(16384, 7));
        medium.setRemovableMedium("/src");
        medium.setRemovalAfter(6000);
        Copier copier(m_shipped, false, &medium);
        QVERIFY(copier.window->initialize());
        QCOMPARE(copier.window->settings().waitForMedium, 1);
        copier.window->useOutputFolderForThisRun("/out");
        auto* hold = copier.window->findChild<QLabel*>(QStringLiteral("runHold"));
        QVERIFY(hold != nullptr);
        QVERIFY(hold->isHidden());
        copier.window->addPaths({"/src/a.bin"}, CopierWindow::AfterAdd::Start);

        QTRY_VERIFY_WITH_TIMEOUT(hold->text().startsWith(copier.text(158) + u' '), 10000);
        QVERIFY(!hold->isHidden());
        QVERIFY(copier.window->counters().copying.load());
        QCOMPARE(copier.icons(), (std::vector<int>{1}));
        const std::string copyBefore = medium.text("/out/a.bin");

        medium.addFile("/src/a.bin", std::vector<std::uint8_t>(16384, 9));
        medium.insertMedium();
        QTRY_VERIFY_WITH_TIMEOUT(hold->text().startsWith(copier.text(159) + u' '), 10000);
        QCOMPARE(medium.text("/out/a.bin"), copyBefore);

        copier.window->runCommand(copier_command::kStopCopying);
        QVERIFY(copier.runEnds());
        QTRY_COMPARE(copier.icons(), (std::vector<int>{3}));  // the line's end follows the run's
        QCOMPARE(copier.window->counters().currentIndex.load(), 0u);
        QTRY_VERIFY(hold->isHidden());
        QVERIFY(copier.prompts.messages.isEmpty());
        QVERIFY(copier.exitAndWait());
    }

    void exitDuringACopyEndsItWithAWholeLog()
    {
        profile().setValue(QStringLiteral("EasyFirst"), 0);  // the copy in order
        MediumMount medium;
        const std::string big = MediumMount::patternBytes(4096 * 512, 5);
        medium.addImage("disk/big.bin", big, "bad 7\nslow 0-4095 1\n");
        MOUNT_OR_SKIP(medium);
        testing::TempDir out;
        Copier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        copier.window->useOutputFolderForThisRun(out.path());
        copier.window->addPaths({q(medium.path("disk/big.bin"))}, CopierWindow::AfterAdd::Start);
        QVERIFY(QTest::qWaitFor([&] { return fs::exists(out / "big.bin") &&
                                             fs::file_size(out / "big.bin") > 100000; }, 20000));
        QVERIFY(copier.exitAndWait());
        QCOMPARE(copier.window->workerCount(), 0);
        QVERIFY(!copier.window->engine().busy());
        const std::uint64_t reached = fs::file_size(out / "big.bin");
        QVERIFY(reached < big.size());
        QVERIFY(logEndsAt(out / "big.bin.log", reached));
    }

    void destroyingTheWindowDuringACopyEndsItWithAWholeLog()
    {
        profile().setValue(QStringLiteral("EasyFirst"), 0);  // the copy in order
        // Without the window's exit first: the run stops its workers as it goes, and the
        // driver's last calls to the window are dropped instead of waiting for it.
        MediumMount medium;
        const std::string big = MediumMount::patternBytes(4096 * 512, 7);
        medium.addImage("disk/big.bin", big, "bad 9\nslow 0-4095 1\n");
        MOUNT_OR_SKIP(medium);
        testing::TempDir out;
        Copier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        copier.window->useOutputFolderForThisRun(out.path());
        copier.window->addPaths({q(medium.path("disk/big.bin"))}, CopierWindow::AfterAdd::Start);
        QVERIFY(QTest::qWaitFor([&] { return fs::exists(out / "big.bin") &&
                                             fs::file_size(out / "big.bin") > 100000; }, 20000));
        copier.window.reset();
        const std::uint64_t reached = fs::file_size(out / "big.bin");
        QVERIFY(reached < big.size());
        QVERIFY(logEndsAt(out / "big.bin.log", reached));
    }

    void exitDuringAQuestionEndsTheCopyWithAWholeLog()
    {
        profile().setValue(QStringLiteral("DontAskForAddReserveds"), 0);
        MediumMount medium;
        const std::string big = MediumMount::patternBytes(4096 * 512, 6);
        medium.addImage("disk/big.bin", big, "bad 2000\nslow 0-4095 1\n");
        MOUNT_OR_SKIP(medium);
        testing::TempDir out;
        Copier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        copier.window->useOutputFolderForThisRun(out.path());
        copier.prompts.promptAnswers = {{1, false}};
        bool exitedDuringQuestion = true;
        copier.prompts.onPrompt = [&](const ModalPrompts::Prompt&) {
            // The worker waits for this answer: close the window now.
            copier.window->close();
            exitedDuringQuestion = copier.window->finished();
        };
        copier.window->addPaths({q(medium.path("disk/big.bin"))}, CopierWindow::AfterAdd::Start);
        QSignalSpy exited(copier.window.get(), &CopierWindow::exited);
        QVERIFY(exited.wait(20000));
        QVERIFY(!exitedDuringQuestion);
        QCOMPARE(copier.prompts.prompts.size(), 1);
        QVERIFY(copier.prompts.fileQuestions.isEmpty());  // closing: no file dialog after the yes
        QVERIFY(logEndsAt(out / "big.bin.log", fs::file_size(out / "big.bin")));
    }

    // Every label and every value of the fields is shown whole, with the longest value
    // each can show, in each shipped language: at start and after a switch to it.
    void theFieldsFitTheTextsOfEveryLanguage()
    {
        for (const std::string file : {"english.lng", "deutsch.lng", "russian.lng"}) {
            profile().setValue(QStringLiteral("Language"), q(file));
            Copier copier(m_shipped);
            QVERIFY(copier.window->initialize());
            copier.window->show();
            expectFieldsFit(copier, q(file) + " at start");
            if (QTest::currentTestFailed()) return;
            QVERIFY(copier.exitAndWait());
        }
        profile().setValue(QStringLiteral("Language"), QStringLiteral("english.lng"));
        Copier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        copier.window->show();
        const int english = copier.window->width();
        for (const std::string file : {"deutsch.lng", "russian.lng", "english.lng"}) {
            QVERIFY(copier.chooseLanguage(file));
            QCOMPARE(copier.field("timeThisFileLabel"), copier.text(69));
            expectFieldsFit(copier, q(file) + " after a switch");
            if (QTest::currentTestFailed()) return;
            // The list's columns show their headers whole and fill the list, no more.
            const QHeaderView* header = copier.window->fileList().header();
            int columns = 0;
            for (int column = 0; column < 3; ++column) {
                QVERIFY2(header->sectionSize(column) >= header->sectionSizeHint(column),
                         qPrintable(q(file) + " column " + QString::number(column)));
                columns += header->sectionSize(column);
            }
            QCOMPARE(columns, copier.window->fileList().viewport()->width());
            // The detail view goes along at the new width.
            copier.window->toggleDetails();
            QCOMPARE(copier.window->width(), copier.window->detailView().geometry().right() + 1 + 10);
            copier.window->toggleDetails();
        }
        QCOMPARE(copier.window->width(), english);  // back in English: the English width
        QVERIFY(copier.exitAndWait());
    }

    // While the trim pass runs, the file is at 100 % and takes time nonetheless: the
    // window says which pass runs and how many regions it has left, and tells no time
    // left it cannot know.
    void theTrimPassShowsWithItsRegionsLeft()
    {
        profile().setValue(QStringLiteral("DontAskForAddReserveds"), 1);
        testing::ScriptedMedium medium;
        medium.addFile("/src/t.bin", std::string(8192, 't'));
        medium.markBad("/src/t.bin", 1024, 512);
        medium.markWeak("/src/t.bin", 4096, 512, 1);  // filled in the main pass, read in the trim
        medium.addFolder("/out");
        Copier copier(m_shipped, false, &medium);
        QVERIFY(copier.window->initialize());
        copier.window->useOutputFolderForThisRun("/out");
        std::atomic<bool> release{false};
        CopyEngine& engine = copier.window->engine();
        medium.setWriteHook("/out/t.bin", [&](std::uint64_t) {

            // Holds the trim until the test has looked (at most 10 s).
            for (int i = 0; i < 1000 && engine.trimmingRegions() > 0 && !release.load(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        QLabel* pass = copier.window->findChild<QLabel*>(QStringLiteral("passText"));
        QVERIFY(pass != nullptr);
        QVERIFY(pass->text().isEmpty());
        copier.window->addPaths({"/src/t.bin"}, CopierWindow::AfterAdd::Start);

        const QString unknown = copier.text(71);
        const bool shown = QTest::qWaitFor([&] {
            return !pass->text().isEmpty() && copier.field("timeThisFile") == unknown &&
                   copier.field("filePercent") == QStringLiteral("100%");
        }, 8000);
        const QString passShown = pass->text();
        const QString thisFile = copier.field("timeThisFile");
        const QString allFiles = copier.field("timeAllFiles");
        const QString speed = copier.field("speed");
        const QString percent = copier.field("filePercent");
        release.store(true);
        QVERIFY(copier.runEnds());
        QVERIFY2(shown, qPrintable(passShown + " | " + thisFile));
        QCOMPARE(passShown, copier.text(154) + ", " + copier.text(155) + ": 1");
        QCOMPARE(thisFile, unknown);
        QCOMPARE(allFiles, unknown);
        QVERIFY2(speed.endsWith(u'/' + copier.text(117)), qPrintable(speed));  // the reads' rate
        QCOMPARE(percent, QStringLiteral("100%"));

        // Over: no pass, and no time left.
        QTRY_VERIFY(pass->text().isEmpty());
        QCOMPARE(copier.field("timeThisFile"), QStringLiteral("00:00:00"));
        QCOMPARE(copier.icons(), (std::vector<int>{5}));
        QVERIFY(copier.exitAndWait());
    }

    // Over the slow damaged medium: the trim's line shows while its reads wait on the
    // medium, and goes when the file is done.
    void theTrimShowsOverTheSlowMedium()
    {
        profile().setValue(QStringLiteral("EasyFirst"), 0);  // the copy in order
        profile().setValue(QStringLiteral("DontAskForAddReserveds"), 1);
        MediumMount medium;
        medium.addImage("disk/a.bin", MediumMount::patternBytes(256 * 512, 9),
                        "bad 10\nbad 50\nbad 90\nbad 130\nbad 170\nbad 210\n"
                        "slow 10 300\nslow 50 300\nslow 90 300\nslow 130 300\n"
                        "slow 170 300\nslow 210 300\n");
        MOUNT_OR_SKIP(medium);
        testing::TempDir out;
        Copier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        copier.window->useOutputFolderForThisRun(out.path());
        copier.window->addPaths({q(medium.path("disk/a.bin"))}, CopierWindow::AfterAdd::Start);
        QString seen;
        QVERIFY(QTest::qWaitFor([&] {
            seen = copier.field("passText");
            return !seen.isEmpty();
        }, 30000));
        QVERIFY2(seen.startsWith(copier.text(154) + ", " + copier.text(155) + ": "), qPrintable(seen));
        QVERIFY(copier.runEnds());
        QCOMPARE(copier.field("passText"), QString());
        QCOMPARE(copier.icons(), (std::vector<int>{5}));
        QVERIFY(copier.exitAndWait());
    }

    // A retry pass shows its number, and the number of passes the file gets.
    void aRetryPassShowsItsNumber()
    {
        Copier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        RunFigures run;
        run.times.running = true;
        run.passRegions = 12;
        run.retryPass = 2;
        run.retryPasses = 3;
        const auto text = [&](int id) { return copier.text(id); };
        copier.window->fields().showTimes(run, 5000, text, "unknown");
        QCOMPARE(copier.field("passText"), copier.text(156) + " 2/3, " + copier.text(155) + ": 12");
        // A finished copy run again says so.
        run.again = true;
        copier.window->fields().showTimes(run, 6000, text, "unknown");
        QCOMPARE(copier.field("passText"),
                 copier.text(156) + " 2/3 " + copier.text(153) + ", " + copier.text(155) + ": 12");
        run.passRegions = 0;
        copier.window->fields().showTimes(run, 6001, text, "unknown");  // within the second
        QCOMPARE(copier.field("passText"), QString());
        QVERIFY(copier.exitAndWait());
    }

    // The whole list's bar counts the lines in the list now: a line deleted, or added,
    // after a run shows at once, as does the total size.
    void theWholeListBarFollowsTheListsChanges()
    {
        profile().setValue(QStringLiteral("AutoStartCopying"), 0);
        testing::ScriptedMedium medium;
        medium.addFile("/src/a.bin", std::string(4096, 'a'));
        medium.addFile("/src/b.bin", std::string(4096, 'b'));
        medium.addFolder("/out");
        Copier copier(m_shipped, false, &medium);
        QVERIFY(copier.window->initialize());
        copier.window->useOutputFolderForThisRun("/out");
        // The second line makes the same copy as the first: it is refused.
        QVERIFY(copier.copy({"/src/a.bin", "/src/a.bin"}));
        QCOMPARE(copier.icons(), (std::vector<int>{2, 4}));
        QCOMPARE(copier.totalPercent(), 50);

        FileListControl& list = copier.window->fileList();
        list.setCurrentIndex(list.lines().index(1, 0));
        QVERIFY(list.deleteSelected());
        QCOMPARE(copier.field("totalSize"), QStringLiteral("4 Kb"));
        QCOMPARE(copier.totalPercent(), 100);

        copier.window->addPaths({"/src/b.bin"}, CopierWindow::AfterAdd::Nothing);
        QCOMPARE(copier.field("totalSize"), QStringLiteral("8 Kb"));
        QCOMPARE(copier.totalPercent(), 50);
        QVERIFY(copier.copy({}));
        QCOMPARE(copier.totalPercent(), 100);

        list.selectAll();
        QVERIFY(list.deleteSelected());
        QCOMPARE(copier.field("totalSize"), QStringLiteral("0 b"));
        QCOMPARE(copier.totalPercent(), 0);
        QVERIFY(copier.exitAndWait());
    }

    // A device named on its own is one line with the device's size, also without
    // access to it; it is imaged into NAME.img, and a denied one says how to get access.
    void aDeviceIsListedWithItsSizeAndImaged()
    {
        profile().setValue(QStringLiteral("AutoStartCopying"), 0);
        testing::ScriptedMedium medium;
        medium.addFile("/dev/sdb", std::string(65536, 'd'));
        medium.markBlockDevice("/dev/sdb");
        medium.addFile("/dev/sdc", std::string(4096, 'c'));
        medium.markBlockDevice("/dev/sdc");
        medium.failOpen("/dev/sdc");
        medium.addFolder("/out");
        Copier copier(m_shipped, false, &medium);
        QVERIFY(copier.window->initialize());
        copier.window->useOutputFolderForThisRun("/out");
        copier.window->addPaths({"/dev/sdb"}, CopierWindow::AfterAdd::Nothing);
        const FileListControl& list = copier.window->fileList();
        QCOMPARE(list.lines().rowCount(), 1);
        QCOMPARE(list.lines().entry(0).name, std::string("/dev/sdb"));
        QCOMPARE(list.lines().entry(0).size, std::uint64_t{65536});
        QCOMPARE(copier.field("totalSize"), QStringLiteral("64 Kb"));

        QVERIFY(copier.copy({"/dev/sdc"}));
        QCOMPARE(list.lines().rowCount(), 2);
        QCOMPARE(list.lines().entry(1).size, std::uint64_t{4096});
        QCOMPARE(copier.icons(), (std::vector<int>{2, 4}));
        QCOMPARE(medium.text("/out/sdb.img"), std::string(65536, 'd'));
        QVERIFY(!medium.hasFile("/out/sdc.img"));
        QCOMPARE(copier.prompts.messages.size(), 1);
        QCOMPARE(copier.prompts.messages[0].text, copier.text(14) + " /dev/sdc\n" + copier.text(24) +
                                                      "\n\n" + copier.text(162));
        QVERIFY(copier.exitAndWait());
    }

    // A floppy image read without mounting, with a log beside it that lists a sector of
    // one file and the first of a folder as unread: its files are listed below the
    // image's path with an ordinary file, the folder is said once, and each copy is
    // exact outside its log's regions, which hold exactly the file's bytes in that sector.
    // What is no image is said with its reason.
    void theFilesOfAnImageAreCopiedExactOutsideItsLog()
    {
        profile().setValue(QStringLiteral("AutoStartCopying"), 0);
        testing::TempDir dir;
        const fs::path image = fs::path(dir.path()) / "floppy.img";
        const testing::ImageFiles files = testing::sampleFiles();
        std::map<std::string, VolumeFileInfo> tree;
        const std::string missing = buildFloppy(image, &tree);
        if (!missing.empty()) QSKIP(qPrintable(QStringLiteral("SKIPPED: ") + q(missing)));
        QVERIFY(!tree.empty());
        const auto sectorIn = [&](const std::string& path, std::uint64_t along) {
            const DataRun& run = tree[path].runs.at(0);
            return (run.volumeOffset + run.length * along / 2) / 512 * 512;
        };
        const std::vector<std::uint64_t> bad = {sectorIn("/DOCS/A.BIN", 1), sectorIn("/DOCS/SUB", 0)};
        std::ofstream(image.string() + ".log") << testing::mapfileFor(fs::file_size(image), bad);
        const fs::path plain = fs::path(dir.path()) / "plain.bin";
        std::ofstream(plain) << files.at("/B.TXT");
        const fs::path out = fs::path(dir.path()) / "out";
        fs::create_directory(out);

        Copier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        copier.window->useOutputFolderForThisRun(out.string());
        copier.prompts.fileAnswers = {q(plain.string()), q(image.string())};
        copier.window->runCommand(copier_command::kAddFromVolume);
        QTRY_COMPARE(copier.prompts.messages.size(), 1);
        QVERIFY(copier.prompts.messages[0].text.startsWith(copier.text(192) + u'\n' +
                                                           q(plain.string()) + u'\n'));
        answerPicker([](VolumePicker&) {});  // all of it, as the tree offers it
        copier.window->runCommand(copier_command::kAddFromVolume);
        const FileListModel& lines = copier.window->fileList().lines();
        QTRY_COMPARE(lines.rowCount(), 5);  // the files outside the unread folder
        QTRY_COMPARE(copier.prompts.messages.size(), 2);
        QCOMPARE(copier.prompts.messages[1].text,
                 copier.text(193) + u'\n' + q(image.string()) + QStringLiteral("/DOCS/SUB: ") +
                     copier.text(194));
        copier.window->addPaths({q(plain.string())}, CopierWindow::AfterAdd::Nothing);
        QTRY_COMPARE(lines.rowCount(), 6);
        copier.window->runCommand(copier_command::kStartCopying);
        QVERIFY(copier.runEnds());

        QCOMPARE(copier.prompts.messages.size(), 2);
        std::map<std::string, std::uint64_t> copied;  // path inside the image -> filled bytes
        for (int row = 0; row < lines.rowCount(); ++row) {
            const std::string name = lines.entry(row).name;
            const bool inImage = name.starts_with(image.string() + "/");
            const std::string inside = inImage ? name.substr(image.string().size()) : "/B.TXT";
            const fs::path copy = inImage ? out / inside.substr(1) : out / "plain.bin";
            const std::string want = files.at(inside);
            std::string got = testing::readText(copy);
            QCOMPARE(got.size(), want.size());
            const std::optional<std::vector<BadRegion>> regions =
                testing::readLogRegions(copy.string() + ".log");
            QVERIFY(regions);
            std::uint64_t filled = 0;
            for (const BadRegion& r : *regions) {
                filled += r.length;
                got.replace(r.offset, r.length, want.substr(r.offset, r.length));
            }
            QVERIFY2(got == want, name.c_str());
            QCOMPARE(lines.icon(row), filled > 0 ? 5 : 2);
            if (inImage) copied[inside] = filled;
        }
        QCOMPARE(copied.size(), std::size_t{5});
        QCOMPARE(copied["/DOCS/A.BIN"], testing::bytesIn(tree["/DOCS/A.BIN"], bad));
        QVERIFY(copied["/DOCS/A.BIN"] > 0);
        QVERIFY(copier.exitAndWait());
    }

    // The tree of an image's files: a folder and a file picked join the list, and nothing
    // else; a folder whose sector is unread cannot be picked and says why; Cancel adds
    // nothing.
    void thePickedFilesOfAnImageJoinTheList()
    {
        profile().setValue(QStringLiteral("AutoStartCopying"), 0);
        testing::TempDir dir;
        const fs::path image = fs::path(dir.path()) / "floppy.img";
        std::map<std::string, VolumeFileInfo> tree;
        const std::string missing = buildFloppy(image, &tree);
        if (!missing.empty()) QSKIP(qPrintable(QStringLiteral("SKIPPED: ") + q(missing)));
        QVERIFY(!tree.empty());
        const std::uint64_t sub = tree["/DOCS/SUB"].runs.at(0).volumeOffset;
        std::ofstream(image.string() + ".log") << testing::mapfileFor(fs::file_size(image), {sub});

        Copier copier(m_shipped);
        QVERIFY(copier.window->initialize());
        copier.prompts.fileAnswers = {q(image.string()), q(image.string())};
        QString subTip;
        bool subCheckable = true;
        answerPicker([&](VolumePicker& picker) {
            pickerItem(picker, {"/"})->setCheckState(0, Qt::Unchecked);
            pickerItem(picker, {"/", "KEEP"})->setCheckState(0, Qt::Checked);
            pickerItem(picker, {"/", "B.TXT"})->setCheckState(0, Qt::Checked);
            QTreeWidgetItem* unread = pickerItem(picker, {"/", "DOCS", "SUB"});
            subTip = unread->toolTip(0);
            subCheckable = (unread->flags() & Qt::ItemIsUserCheckable) != 0;
        });
        copier.window->runCommand(copier_command::kAddFromVolume);
        const FileListModel& lines = copier.window->fileList().lines();
        QTRY_COMPARE(lines.rowCount(), 3);
        QTRY_VERIFY(copier.window->workerCount() == 1);  // the driver's alone
        QCOMPARE(subTip, copier.text(194));
        QVERIFY(!subCheckable);
        std::map<std::string, std::uint64_t> listed;
        for (int row = 0; row < lines.rowCount(); ++row) {
            listed[lines.entry(row).name.substr(image.string().size())] = lines.entry(row).size;
        }
        QCOMPARE(listed, (std::map<std::string, std::uint64_t>{
                             {"/B.TXT", 5000}, {"/KEEP/D.BIN", 20000}, {"/KEEP/TINY.TXT", 40}}));
        QCOMPARE(copier.prompts.messages.size(), 0);

        answerPicker([](VolumePicker&) {}, false);
        copier.window->runCommand(copier_command::kAddFromVolume);
        QTRY_VERIFY(copier.window->workerCount() == 1);
        QCOMPARE(lines.rowCount(), 3);
        QCOMPARE(copier.prompts.messages.size(), 0);
        QVERIFY(copier.exitAndWait());
    }

private:
    // Checks that no label or value of the fields is cut, each value with the longest
    // texts it can show in the window's language.
    static void expectFieldsFit(Copier& copier, const QString& where)
    {
        const QString perSecond = u'/' + copier.text(117);
        const QString unknown = copier.text(71);
        const QString regions = QStringLiteral(", ") + copier.text(155) + QStringLiteral(": 99999");
        const struct
        {
            const char* name;
            QStringList values;  // empty: the label's own text
        } fields[] = {
            {"totalSizeLabel", {}},
            {"outputFolderLabel", {}},
            {"timeThisFileLabel", {}},
            {"timeAllFilesLabel", {}},
            {"speedLabel", {}},
            {"filePercent", {QStringLiteral("100%")}},
            {"totalPercent", {QStringLiteral("100%")}},
            {"totalSize", {q(formatSize(1000ull << 30)), q(formatSize(9999ull << 30)),
                           q(formatSize(99ull << 20 | 900ull << 10))}},
            {"outputFolder", {copier.text(44)}},
            {"timeThisFile", {QStringLiteral("00:00:00"), unknown}},
            {"timeAllFiles", {QStringLiteral("00:00:00"), unknown}},
            {"speed", {unknown, q(formatSize(1000ull << 20)) + perSecond,
                       q(formatSize(99ull << 20 | 900ull << 10)) + perSecond,
                       q(formatSize(1023ull << 10)) + perSecond}},
            {"passText", {copier.text(154) + regions,
                          copier.text(156) + " 9/9 " + copier.text(153) + regions}},
        };
        for (const auto& field : fields) {
            QLabel* label = copier.window->findChild<QLabel*>(QLatin1String(field.name));
            QVERIFY2(label != nullptr, field.name);
            const QString kept = label->text();
            for (const QString& value : field.values.isEmpty() ? QStringList{kept} : field.values) {
                label->setText(value);
                copier.window->layout()->activate();
                // What the text needs, whatever minimum the label was given.
                QLabel probe(value);
                probe.setFont(label->font());
                const int needed = probe.sizeHint().width();
                QVERIFY2(needed <= label->width(),
                         qPrintable(where + ": " + field.name + " \"" + value + "\" needs " +
                                    QString::number(needed) + " px, has " +
                                    QString::number(label->width())));
                QVERIFY2(label->geometry().right() < copier.window->width(), field.name);
            }
            label->setText(kept);
        }
    }

    // True when the log at path ends with its end record at offset end: "ACL", the fill
    // type, the name's length and the name, whole 8-byte records, the last of length 0.
    static bool logEndsAt(const std::string& path, std::uint64_t end)
    {
        const testing::Bytes log = testing::readFile(path);
        if (log.size() < 14) return false;
        const std::size_t nameLength = log[12] | (log[13] << 8);
        const std::size_t records = 14 + nameLength;
        if (log.size() < records + 8 || (log.size() - records) % 8 != 0) return false;
        const auto word = [&](std::size_t at) {
            return std::uint32_t(log[at]) | std::uint32_t(log[at + 1]) << 8 |
                   std::uint32_t(log[at + 2]) << 16 | std::uint32_t(log[at + 3]) << 24;
        };
        return word(log.size() - 8) == end && word(log.size() - 4) == 0;
    }

    QTemporaryDir m_profileDir;
    fs::path m_shipped;
};

QTEST_MAIN(CopierWindowTest)
#include "copier_window_test.moc"
