#include "ui/block_map_control.h"

#include <QSignalSpy>
#include <QtTest>
#include <vector>

using namespace tessaly;

namespace {

// A copy as the engine would show it, set by the test.
class ScriptedSource : public BlockMapSource
{
public:
    BlockMapProgress state;
    std::vector<BadRegion> regions;
    std::uint32_t regionsGeneration = 0;
    mutable std::vector<std::size_t> asked;  // the first index of each regionsFrom

    BlockMapProgress progress() const override { return state; }
    std::vector<BadRegion> regionsFrom(std::size_t first) const override
    {
        asked.push_back(first);
        if (first >= regions.size()) return {};
        return {regions.begin() + static_cast<std::ptrdiff_t>(first), regions.end()};
    }
    std::uint32_t generation() const override { return regionsGeneration; }
};

// Resizes control so that its client area (inside the frame) is client.
void setClientSize(BlockMapControl& control, QSize client)
{
    control.resize(client + control.size() - control.contentsRect().size());
}

// A client area of columns x rows cells.
QSize cellsArea(int columns, int rows)
{
    return QSize(2 * kMapMargin + columns * kCellPitch, 2 * kMapMargin + rows * kCellPitch);
}

// A control with a client area of area, fed from a source of its own, and refreshed once.
struct FedMap
{
    ScriptedSource source;
    BlockMapControl control;

    FedMap(const ScriptedSource& state, QSize area) : source(state)
    {
        setClientSize(control, area);
        control.setSource(&source);
        control.refresh();
    }
};

const QColor kWhite(255, 255, 255);
const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);
const QColor kBlack(0, 0, 0);

}  // namespace

class BlockMapControlTest : public QObject
{
    Q_OBJECT

private:
    // 8 x 2 cells of 512 bytes; regions in cells 2 and 5, the position in cell 9.
    static ScriptedSource sixteenCells()
    {
        ScriptedSource source;
        source.state = {16 * 512, 5000, 512};
        source.regions = {{1024, 512}, {3000, 10}};
        return source;
    }

    // Pixel (x, y) of cell index, counted from the cell's top-left corner, in the
    // picture of the whole widget as the screen shows it.
    static QColor pixelOfCell(const QImage& screen, const BlockMapControl& control, int index,
                              int x = kCellSize / 2, int y = kCellSize / 2)
    {
        const int columns = (control.contentsRect().width() - 2 * kMapMargin) / kCellPitch;
        const QPoint origin =
            control.contentsRect().topLeft() + QPoint(kMapMargin + index % columns * kCellPitch,
                                                      kMapMargin + index / columns * kCellPitch);
        return screen.pixelColor(origin + QPoint(x, y));
    }

private slots:
    void picture_showsTheFourColoursAtTheirCells()
    {
        FedMap map(sixteenCells(), cellsArea(8, 2));
        BlockMapControl& control = map.control;
        const QImage screen = control.grab().toImage();
        const QColor expected[16] = {kBlue, kBlue,  kRed,   kBlue,  kBlue,  kRed,   kBlue,  kBlue,
                                     kBlue, kGreen, kWhite, kWhite, kWhite, kWhite, kWhite, kWhite};
        for (int i = 0; i < 16; ++i) {
            QCOMPARE(pixelOfCell(screen, control, i), expected[i]);
            QCOMPARE(pixelOfCell(screen, control, i, 1, 1), expected[i]);
            QCOMPARE(pixelOfCell(screen, control, i, 6, 6), expected[i]);
            QCOMPARE(pixelOfCell(screen, control, i, 0, 0), kBlack);
            QCOMPARE(pixelOfCell(screen, control, i, 7, 3), kBlack);
            QCOMPARE(pixelOfCell(screen, control, i, 3, 7), kBlack);
        }
        // One pixel of background between neighbours, two at the margin.
        const QColor background = control.palette().color(control.backgroundRole());
        QCOMPARE(pixelOfCell(screen, control, 0, 8, 3), background);
        QCOMPARE(pixelOfCell(screen, control, 0, 3, 8), background);
        QCOMPARE(pixelOfCell(screen, control, 0, -1, -1), background);
        QCOMPARE(pixelOfCell(screen, control, 0, -2, 3), background);
        // What the screen shows is the cached picture.
        QCOMPARE(screen.copy(control.contentsRect()).convertToFormat(QImage::Format_RGB32),
                 control.picture());
    }

    void refresh_afterMoreProgressEqualsAFullRepaint()
    {
        ScriptedSource start;
        start.state = {200 * 512, 0, 512};
        FedMap map(start, cellsArea(20, 10));
        ScriptedSource& source = map.source;
        BlockMapControl& incremental = map.control;
        // A copy that fills a region now and then, and a poll after each step.
        for (std::uint32_t done = 0; done < source.state.total;) {
            for (int n = 0; n < 37 && done < source.state.total; ++n, done += 512) {
                if ((done / 512) % 11 == 3 || (done / 512) % 17 == 0) {
                    source.regions.push_back({done, 512});
                }
            }
            source.state.done = done;
            incremental.refresh();
        }
        incremental.refresh();
        QCOMPARE(source.asked.front(), std::size_t{0});
        QCOMPARE(source.asked.back(), source.regions.size());  // each poll reads the new ones

        const FedMap full(source, cellsArea(20, 10));
        QCOMPARE(incremental.picture(), full.control.picture());
        QVERIFY(incremental.picture().pixelColor(incremental.cellOrigin(3) -
                                                 incremental.contentsRect().topLeft() +
                                                 QPoint(4, 4)) == kRed);
    }

    void refresh_midwayEqualsAFullRepaint()
    {
        ScriptedSource start = sixteenCells();
        start.state.done = 1000;
        start.regions = {{0, 512}};
        FedMap map(start, cellsArea(8, 2));
        ScriptedSource& source = map.source;
        BlockMapControl& incremental = map.control;
        source.state.done = 6000;
        source.regions.push_back({1024, 512});
        source.regions.push_back({5632, 512});  // at the position, reaching past it
        incremental.refresh();
        QCOMPARE(incremental.lastDrawnCells(), std::size_t{11});  // green cell 1 to green 11

        const FedMap full(source, cellsArea(8, 2));
        QCOMPARE(incremental.picture(), full.control.picture());

        incremental.refresh();  // nothing new: nothing drawn
        QCOMPARE(incremental.lastDrawnCells(), std::size_t{0});
        source.state.done = 6100;  // still in the green cell
        incremental.refresh();
        QCOMPARE(incremental.lastDrawnCells(), std::size_t{1});
    }

    void refresh_afterTheRegionsWereReplacedEqualsAFullRepaint()
    {
        ScriptedSource start = sixteenCells();
        start.state.done = start.state.total;
        start.regions = {{0, 512}, {1024, 512}, {2048, 1536}, {7000, 100}};
        FedMap map(start, cellsArea(8, 2));
        // The trim pass read most of them back: fewer regions, some cells blue again.
        map.source.regions = {{2560, 512}};
        ++map.source.regionsGeneration;
        map.control.refresh();
        QCOMPARE(map.source.asked.back(), std::size_t{0});

        const FedMap full(map.source, cellsArea(8, 2));
        QCOMPARE(map.control.picture(), full.control.picture());
    }

    void resize_repaintsTheFinishedFileInFull()
    {
        ScriptedSource finished = sixteenCells();
        finished.state.done = finished.state.total;
        FedMap map(finished, cellsArea(8, 2));
        BlockMapControl& control = map.control;
        control.show();
        // The copy has ended and the engine moved on: the map keeps its file.
        control.setSource(nullptr);
        setClientSize(control, cellsArea(4, 5));
        QCOMPARE(control.picture().size(), cellsArea(4, 5));

        const FedMap fresh(finished, cellsArea(4, 5));
        QCOMPARE(control.picture(), fresh.control.picture());
        const QImage screen = control.grab().toImage();
        QCOMPARE(pixelOfCell(screen, control, 2), kRed);
        QCOMPARE(pixelOfCell(screen, control, 9), kBlue);   // no green once finished
        QCOMPARE(pixelOfCell(screen, control, 16), kBlue);  // the cell starting at the end
    }

    void resetForNewFile_clearsThePicture()
    {
        FedMap map(sixteenCells(), cellsArea(8, 2));
        BlockMapControl& control = map.control;
        control.resetForNewFile();
        QImage blank(control.picture().size(), QImage::Format_RGB32);
        blank.fill(control.palette().color(control.backgroundRole()));
        QCOMPARE(control.picture(), blank);

        ScriptedSource next;
        next.state = {4096, 0, 512};
        control.setSource(&next);
        control.refresh();
        QCOMPARE(next.asked.back(), std::size_t{0});  // the new file's regions from the first
        const QImage screen = control.grab().toImage();
        QCOMPARE(pixelOfCell(screen, control, 0), kGreen);
        QCOMPARE(pixelOfCell(screen, control, 8), kWhite);  // it starts at the end of the file
        QCOMPARE(pixelOfCell(screen, control, 9), blank.pixelColor(0, 0));
    }

    void toolTip_namesTheRangeAndTheState()
    {
        LanguageTable english;
        QVERIFY(english.loadLanguage(qEnvironmentVariable("TESSALY_DATA_DIR").toStdString(),
                                     "english.lng"));
        FedMap map(sixteenCells(), cellsArea(8, 2));
        ScriptedSource& source = map.source;
        BlockMapControl& control = map.control;
        const auto tipOf = [&](int index) {
            return control.toolTipAt(control.cellOrigin(index) + QPoint(3, 3));
        };
        QCOMPARE(tipOf(0), QString());  // no language, no tooltip
        control.setLanguage(&english);
        QCOMPARE(tipOf(0), QStringLiteral("Bytes 0 \u2013 511\nRead"));
        QCOMPARE(tipOf(2), QStringLiteral("Bytes 1024 \u2013 1535\nUnreadable, filled bytes: 512"));
        QCOMPARE(tipOf(5), QStringLiteral("Bytes 2560 \u2013 3071\nUnreadable, filled bytes: 10"));
        QCOMPARE(tipOf(9), QStringLiteral("Bytes 4608 \u2013 5119\nCurrent position"));
        QCOMPARE(tipOf(10), QStringLiteral("Bytes 5120 \u2013 5631\nNot reached yet"));
        QCOMPARE(control.toolTipAt(control.cellOrigin(0) + QPoint(8, 3)), QString());  // a gap

        source.state.total = 5000;  // the position's cell is the last, cut short
        source.state.done = 4700;
        source.regions.push_back({4608, 100});
        control.refresh();
        QCOMPARE(tipOf(9), QStringLiteral("Bytes 4608 \u2013 4999\nCurrent position\n"
                                          "Unreadable, filled bytes: 100"));
        QCOMPARE(tipOf(10), QString());  // past the end of the file
    }

    void toolTip_ofAFileOf5GiBNamesItsBytesPast4GiB()
    {
        LanguageTable english;
        QVERIFY(english.loadLanguage(qEnvironmentVariable("TESSALY_DATA_DIR").toStdString(),
                                     "english.lng"));
        // 10 x 10 cells of 53,690,368 bytes; the region at 4.5 GiB lies in cell 89.
        ScriptedSource state;
        state.state = {5ull << 30, 5ull << 30, 4096};
        state.regions = {{(9ull << 29), 8192}};
        FedMap map(state, cellsArea(10, 10));
        map.control.setLanguage(&english);
        const auto tipOf = [&](int index) {
            return map.control.toolTipAt(map.control.cellOrigin(index) + QPoint(3, 3));
        };
        QCOMPARE(tipOf(89), QStringLiteral("Bytes 4778442752 \u2013 4832133119\n"
                                           "Unreadable, filled bytes: 8192"));
        QCOMPARE(tipOf(99), QStringLiteral("Bytes 5315346432 \u2013 5368709119\nRead"));
        QCOMPARE(pixelOfCell(map.control.grab().toImage(), map.control, 89), kRed);
        QCOMPARE(pixelOfCell(map.control.grab().toImage(), map.control, 88), kBlue);
    }

    void closeAndF1_askTheWindow()
    {
        BlockMapControl control;
        QSignalSpy closing(&control, &BlockMapControl::closeRequested);
        QSignalSpy help(&control, &BlockMapControl::helpRequested);
        control.show();
        QVERIFY(!control.close());  // the window decides whether the map goes
        QCOMPARE(closing.count(), 1);
        QVERIFY(control.isVisible());
        QTest::keyClick(&control, Qt::Key_F1);
        QCOMPARE(help.count(), 1);
        QCOMPARE(help.at(0).at(0).toInt(), 10);
    }
};

QTEST_MAIN(BlockMapControlTest)
#include "block_map_control_test.moc"
