#include "ui/file_list_control.h"

#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

#include "ui/owner_draw_menu.h"

using namespace tessaly;

namespace {

struct Line
{
    const char* name;
    std::uint64_t size;
    EntryState state;
};

// A list of lines in the given states, with the Done lines counted as copied.
struct List
{
    explicit List(std::initializer_list<Line> lines) : control(counters)
    {
        std::vector<FileEntry> entries;
        const auto base = std::make_shared<const std::string>();
        for (const Line& line : lines) {
            entries.push_back({base, line.name, line.size, line.state});
            if (line.state == EntryState::Done) {
                counters.doneSize += line.size;
            }
        }
        control.lines().append(std::move(entries));
        control.setTexts({"Source file", "Size", "Not read"}, "Delete from list",
                         "Continue copying");
    }

    void select(std::initializer_list<int> rows)
    {
        control.clearSelection();
        for (const int row : rows) {
            control.selectionModel()->select(control.lines().index(row, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    QStringList names() const
    {
        QStringList shown;
        for (int row = 0; row < control.lines().rowCount(); ++row) {
            shown.append(control.lines().data(control.lines().index(row, 0), Qt::DisplayRole).toString());
        }
        return shown;
    }
    // The enabled state of (Continue copying, Delete from list); nothing without a menu.
    std::optional<std::pair<bool, bool>> menuStates()
    {
        const std::unique_ptr<QMenu> menu = control.contextMenu();
        if (!menu) {
            return std::nullopt;
        }
        bool continueOn = false;
        bool deleteOn = false;
        for (const QAction* action : menu->actions()) {
            if (action->data().toUInt() == list_command::kContinueCopying) continueOn = action->isEnabled();
            if (action->data().toUInt() == list_command::kDeleteFromList) deleteOn = action->isEnabled();
        }
        return std::pair{continueOn, deleteOn};
    }

    RunCounters counters;
    FileListControl control;
};

}  // namespace

class FileListControlTest : public QObject
{
    Q_OBJECT

private slots:
    void sortingGroupsByStateAndKeepsTheNextLine()
    {
        List list({{"/m/b.txt", 10, EntryState::Fresh},
                   {"/m/C.txt", 30, EntryState::Done},
                   {"/m/a.txt", 20, EntryState::Fresh},
                   {"/m/B.txt", 5, EntryState::Unfinished},
                   {"/m/c.txt", 40, EntryState::Fresh}});
        list.counters.currentIndex = 3;  // B.txt, stopped
        QVERIFY(list.control.sortBy(0));
        QCOMPARE(list.names(), QStringList({"/m/C.txt", "/m/B.txt", "/m/a.txt", "/m/b.txt", "/m/c.txt"}));
        QCOMPARE(list.counters.currentIndex.load(), 1u);
        QVERIFY(list.control.sortBy(1));
        QCOMPARE(list.names(), QStringList({"/m/C.txt", "/m/B.txt", "/m/c.txt", "/m/a.txt", "/m/b.txt"}));
        QCOMPARE(list.counters.currentIndex.load(), 1u);

        // Never while a run goes on: the run addresses its lines by index.
        list.counters.copying.store(true);
        QVERIFY(!list.control.sortBy(0));
        QCOMPARE(list.names().at(2), QStringLiteral("/m/c.txt"));
    }

    void deletingKeepsTheTotalsAndTheNextLine()
    {
        List list({{"/m/a", 100, EntryState::Done},
                   {"/m/b", 200, EntryState::Fresh},
                   {"/m/c", 300, EntryState::Unfinished},
                   {"/m/d", 400, EntryState::Fresh}});
        QCOMPARE(list.counters.totalSize.load(), 1000u);
        QCOMPARE(list.counters.entryCount.load(), 4u);
        list.counters.currentIndex = 2;
        QSignalSpy deleted(&list.control, &FileListControl::linesDeleted);

        // A line after the next one leaves it where it is.
        list.select({3});
        QTest::keyClick(&list.control, Qt::Key_Delete);
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(list.counters.currentIndex.load(), 2u);
        QCOMPARE(list.counters.totalSize.load(), 600u);
        QCOMPARE(list.counters.doneSize.load(), 100u);

        // A copied line lowers both totals, a waiting one only the total; both lay before
        // the next line, which keeps pointing at /m/c.
        list.select({0, 1});
        list.control.runCommand(list_command::kDeleteFromList);
        QCOMPARE(list.names(), QStringList({"/m/c"}));
        QCOMPARE(list.counters.currentIndex.load(), 0u);
        QCOMPARE(list.counters.totalSize.load(), 300u);
        QCOMPARE(list.counters.doneSize.load(), 0u);
        QCOMPARE(list.counters.entryCount.load(), 1u);

        list.select({0});
        QVERIFY(list.control.deleteSelected());
        QCOMPARE(list.counters.currentIndex.load(), 0u);
        QCOMPARE(list.counters.entryCount.load(), 0u);
    }

    void aLineBeingCopiedStays()
    {
        List list({{"/m/a", 1, EntryState::InProgress}, {"/m/b", 2, EntryState::Fresh}});
        list.counters.copying.store(true);
        list.select({0, 1});
        QCOMPARE(list.menuStates(), std::optional(std::pair{false, false}));
        QTest::keyClick(&list.control, Qt::Key_Delete);
        QCOMPARE(list.control.lines().rowCount(), 2);
        list.counters.copying.store(false);  // stopped, the driver has not marked the line yet
        QVERIFY(!list.control.sortBy(0));
    }

    void continueCopyingFromTheFirstSelectedLine()
    {
        List list({{"/m/a", 1, EntryState::Done},
                   {"/m/b", 2, EntryState::Unfinished},
                   {"/m/c", 3, EntryState::Fresh}});
        list.counters.currentIndex = 3;
        QVERIFY(!list.menuStates());  // nothing selected: no menu

        list.select({2});
        QCOMPARE(list.menuStates(), std::optional(std::pair{false, true}));
        list.select({0, 1});
        QCOMPARE(list.menuStates(), std::optional(std::pair{true, true}));
        list.counters.copying.store(true);
        QCOMPARE(list.menuStates(), std::optional(std::pair{false, true}));
        list.control.runCommand(list_command::kContinueCopying);
        QCOMPARE(list.counters.currentIndex.load(), 3u);

        list.counters.copying.store(false);
        QSignalSpy continued(&list.control, &FileListControl::continueRequested);
        list.select({2, 1});
        list.control.runCommand(list_command::kContinueCopying);
        QCOMPARE(continued.count(), 1);
        QCOMPARE(list.counters.currentIndex.load(), 1u);
    }

    void iconsAndFilledBytesOfALine()
    {
        List list({{"/m/a", 1536, EntryState::Fresh}});
        const auto cell = [&](int column, int role) {
            return list.control.lines().data(list.control.lines().index(0, column), role);
        };
        QCOMPARE(cell(1, Qt::DisplayRole).toString(), QStringLiteral("1.5 Kb"));
        QCOMPARE(cell(2, Qt::DisplayRole).toString(), QString());
        const QImage waiting = cell(0, Qt::DecorationRole).value<QIcon>().pixmap(16, 16).toImage();
        list.control.lines().setIcon(0, 4);
        list.control.lines().setFilled(0, 512);
        const QImage failed = cell(0, Qt::DecorationRole).value<QIcon>().pixmap(16, 16).toImage();
        QVERIFY(!waiting.isNull());
        QVERIFY(waiting != failed);
        QCOMPARE(cell(2, Qt::DisplayRole).toString(), QStringLiteral("512 b"));
    }

    void droppedFilesAreHandedOn()
    {
        List list({});
        QSignalSpy dropped(&list.control, &FileListControl::pathsDropped);
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile("/media/a"), QUrl("https://example.org/x"),
                      QUrl::fromLocalFile("/media/b c")});
        QVERIFY(list.control.takeDrop(&mime));
        QCOMPARE(dropped.count(), 1);
        QCOMPARE(dropped[0][0].toStringList(), QStringList({"/media/a", "/media/b c"}));
        QMimeData web;
        web.setUrls({QUrl("https://example.org/x")});
        QVERIFY(!list.control.takeDrop(&web));
        QCOMPARE(dropped.count(), 1);
    }
};

QTEST_MAIN(FileListControlTest)
#include "file_list_control_test.moc"
