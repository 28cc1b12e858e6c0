#include "copier/copier_window.h"

#include <QHeaderView>
#include <QLabel>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <memory>

#include "tests/gui/gui_test_support.h"
#include "tests/tool/tool_test_support.h"
#include "ui/language_table.h"
#include "ui/ui_text.h"

using namespace tessaly;
namespace fs = std::filesystem;
using testing::ScriptedPrompts;
using testing::profile;
using testing::q;

namespace {


// A copier window over a language folder, without quick start unless asked.
struct Copier
{
    explicit Copier(const fs::path& programFolder, bool quickStart = false)
    {
        CopierWindow::Setup setup;
        setup.programFolder = programFolder;
        setup.quickStart = quickStart;
        window = std::make_unique<CopierWindow>(language, prompts, setup);
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

    ScriptedPrompts prompts;
    LanguageTable language;
    std::unique_ptr<CopierWindow> window;
};

}  // namespace

class CopierWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_profileDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_profileDir.path());
        const QByteArray data = qgetenv("TESSALY_DATA_DIR");
        QVERIFY2(!data.isEmpty(), "TESSALY_DATA_DIR is not set");
        m_shipped = fs::path(data.toStdString());
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
        QCOMPARE(file.at(8)->text(), copier.text(36) + "\tAlt+X");
        QVERIFY(!file.at(5)->isEnabled());  // Start: nothing to copy
        QVERIFY(!file.at(6)->isEnabled());  // Stop: no run

        const QSize size = copier.window->size();
        QCOMPARE(copier.window->minimumSize(), size);
        QCOMPARE(copier.window->maximumSize(), size);
        const QFontMetrics metrics(copier.window->font());
        QVERIFY(size.height() - copier.window->menuBar()->height() >= 226 * metrics.height() / 8);

        FileListControl& list = copier.window->fileList();
        QCOMPARE(list.lines().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), copier.text(4));
        QCOMPARE(list.lines().headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), copier.text(5));
        const int w = list.viewport()->width();
        QCOMPARE(list.header()->sectionSize(0), w * 3 / 5);
        QCOMPARE(list.header()->sectionSize(1), w / 5);
        QCOMPARE(list.header()->sectionSize(2), w - w * 3 / 5 - w / 5);
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

private:
    QTemporaryDir m_profileDir;
    fs::path m_shipped;
};

QTEST_MAIN(CopierWindowTest)
#include "copier_window_test.moc"
