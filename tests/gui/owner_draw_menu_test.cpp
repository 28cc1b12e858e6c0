#include "ui/owner_draw_menu.h"

#include <QAction>
#include <QActionGroup>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QtTest>

using namespace tessaly;

namespace {

QPalette fixedPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(212, 208, 200));
    palette.setColor(QPalette::Base, QColor(255, 255, 255));
    palette.setColor(QPalette::Highlight, QColor(10, 36, 106));
    palette.setColor(QPalette::WindowText, QColor(0, 0, 0));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(128, 128, 128));
    return palette;
}

QAction* addCommand(QMenu* menu, const QString& text, quint32 id)
{
    QAction* action = menu->addAction(text);
    action->setData(id);
    return action;
}

// A bar with File (Get, separator, Exit) and Settings > Language > (one item).
struct SampleMenu
{
    QMenuBar bar;
    QMenu* file = nullptr;
    QMenu* settings = nullptr;
    QMenu* language = nullptr;

    SampleMenu()
    {
        file = bar.addMenu(QStringLiteral("&File"));
        addCommand(file, QStringLiteral("&Get\tCtrl+G"), 32773);
        file->addSeparator();
        addCommand(file, QStringLiteral("E&xit\tAlt+X"), 32771);
        settings = bar.addMenu(QStringLiteral("&Settings"));
        language = settings->addMenu(QStringLiteral("Language"));
        addCommand(language, QStringLiteral("English"), 43000);
    }
};

QImage render(const OwnerDrawStyle& style, const QSize& size, const QString& text,
              const OwnerDrawStyle::ItemState& state)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter painter(&image);
    style.drawItem(&painter, QRect(QPoint(0, 0), size), text, style.menuFont(), state,
                   fixedPalette());
    return image;
}

OwnerDrawStyle::ItemState separatorState()
{
    OwnerDrawStyle::ItemState state;
    state.separator = true;
    return state;
}

OwnerDrawStyle::ItemState selectedState()
{
    OwnerDrawStyle::ItemState state;
    state.selected = true;
    return state;
}

}  // namespace

class OwnerDrawMenuTest : public QObject
{
    Q_OBJECT

private slots:
    void colourArithmeticRoundsLikeMulDiv()
    {
        QCOMPARE(mulDivRound(7, 1, 2), 4);
        QCOMPARE(mulDivRound(-7, 1, 2), -4);
        QCOMPARE(blend86(QColor(255, 0, 100), QColor(0, 255, 200)), QColor(219, 36, 114));
        QCOMPARE(darken(64, QColor(255, 128, 1)), QColor(191, 96, 1));
        QCOMPARE(lighten(128, QColor(0, 255, 100)), QColor(128, 255, 178));
    }

    void itemSizes()
    {
        OwnerDrawStyle style;
        QCOMPARE(style.measureItem(QString(), true, false), QSize(0, 5));

        const QString label = QStringLiteral("&Get");
        QCOMPARE(style.measureItem(label, false, false).width(), style.textWidth(label) + 34);
        QCOMPARE(style.measureItem(label, false, true).width(), style.textWidth(label) - 6);
        // The tab counts as a blank in the text width; the accelerator column adds 15.
        QCOMPARE(style.measureItem(QStringLiteral("&Get\tCtrl+G"), false, false).width(),
                 style.measureItem(QStringLiteral("&Get Ctrl+G"), false, false).width() + 15);
        // The mnemonic marker takes no room.
        QCOMPARE(style.textWidth(QStringLiteral("&Get")), style.textWidth(QStringLiteral("Get")));
    }

    void heightsFollowTheMenuBarHeight()
    {
        OwnerDrawStyle style;
        QFont small = style.menuFont();
        small.setPixelSize(10);
        style.setMenuFont(small);
        style.setMenuBarHeight(19);
        QCOMPARE(style.measureItem(QStringLiteral("Get"), false, false).height(), 22);
        QCOMPARE(style.measureItem(QStringLiteral("File"), false, true).height(), 22);
        style.setMenuBarHeight(30);
        QCOMPARE(style.measureItem(QStringLiteral("Get"), false, false).height(), 30);
        // Never lower than the text.
        QFont large = small;
        large.setPixelSize(40);
        style.setMenuFont(large);
        QVERIFY(style.measureItem(QStringLiteral("Get"), false, false).height() >= 40);
    }

    void popupGeometryMatchesTheMeasuredItems()
    {
        SampleMenu sample;
        OwnerDrawMenu menu(&sample.bar);
        sample.file->ensurePolished();
        sample.file->adjustSize();
        const QList<QAction*> actions = sample.file->actions();
        int widest = 0;
        for (QAction* action : actions) {
            widest = std::max(widest, menu.measure(action).width());
        }
        for (QAction* action : actions) {
            const QRect rect = sample.file->actionGeometry(action);
            QCOMPARE(rect.width(), widest + OwnerDrawStyle::kPopupItemPadding);
            QCOMPARE(rect.height(), menu.measure(action).height());
        }
        QCOMPARE(sample.file->actionGeometry(actions[1]).height(), 5);
    }

    void setItemTextAndFind()
    {
        SampleMenu sample;
        OwnerDrawMenu menu(&sample.bar);
        QVERIFY(menu.setCommandText(43000, QStringLiteral("Deutsch")));
        QAction* english = sample.language->actions().at(0);
        QCOMPARE(english->text(), QStringLiteral("Deutsch"));
        QCOMPARE(OwnerDrawMenu::record(english)->text, QStringLiteral("Deutsch"));
        QVERIFY(!menu.setCommandText(12345, QStringLiteral("x")));

        QVERIFY(menu.setItemTextAt(1, QStringLiteral("&Options")));
        QCOMPARE(sample.bar.actions().at(1)->text(), QStringLiteral("&Options"));
        QVERIFY(!menu.setItemTextAt(3, QStringLiteral("x")));

        const auto found = menu.findByText(QStringLiteral("Language"));
        QVERIFY(found.has_value());
        QCOMPARE(found->menu, static_cast<QWidget*>(sample.settings));
        QCOMPARE(found->position, 0);
        QVERIFY(!menu.findByText(QStringLiteral("language")).has_value());

        auto settings = menu.subMenu(1);
        QVERIFY(settings != nullptr);
        QCOMPARE(settings->menu(), static_cast<QWidget*>(sample.settings));
        QVERIFY(settings->setItemTextAt(0, QStringLiteral("Sprache\t")));
        QVERIFY(menu.subMenu(5) == nullptr);
        settings.reset();
        // Dropping a popup view leaves the records in place.
        QVERIFY(OwnerDrawMenu::record(sample.settings->actions().at(0)) != nullptr);

        QVERIFY(menu.check(32773, false, true));
        QVERIFY(sample.file->actions().at(0)->isChecked());
        QVERIFY(menu.enable(32771, false, false));
        QVERIFY(!sample.file->actions().at(2)->isEnabled());
    }

    void attachRefreshDetach()
    {
        SampleMenu sample;
        OwnerDrawMenu menu;
        QVERIFY(!menu.attach(nullptr));
        QWidget notAMenu;
        QVERIFY(!menu.attach(&notAMenu));
        QVERIFY(!menu.isAttached());

        QVERIFY(menu.attach(&sample.bar));
        QAction* get = sample.file->actions().at(0);
        MenuItemRecord* first = OwnerDrawMenu::record(get);
        QVERIFY(first != nullptr);
        QCOMPARE(first->id, quint32{32773});
        QVERIFY(OwnerDrawMenu::record(sample.bar.actions().at(0))->menuBarItem);
        QVERIFY(!OwnerDrawMenu::record(sample.settings->actions().at(0))->menuBarItem);
        QCOMPARE(OwnerDrawMenu::record(sample.file->actions().at(1))->kind,
                 MenuItemRecord::Kind::Separator);

        // Attaching twice converts again but keeps the records.
        menu.setCommandText(32773, QStringLiteral("Hole\tCtrl+G"));
        QVERIFY(menu.attach(&sample.bar));
        QCOMPARE(OwnerDrawMenu::record(get), first);
        QCOMPARE(first->text, QStringLiteral("Hole\tCtrl+G"));
        QVERIFY(!menu.attach(&notAMenu));
        QVERIFY(menu.isAttached());

        QAction* added = addCommand(sample.language, QStringLiteral("Russian"), 43001);
        QVERIFY(OwnerDrawMenu::record(added) == nullptr);
        QVERIFY(menu.refresh());
        QVERIFY(OwnerDrawMenu::record(added) != nullptr);
        QCOMPARE(sample.language->style(), static_cast<QStyle*>(menu.style()));

        menu.detach();
        QVERIFY(OwnerDrawMenu::record(get) == nullptr);
        QVERIFY(OwnerDrawMenu::record(added) == nullptr);
        QVERIFY(sample.file->style() != static_cast<QStyle*>(menu.style()));
    }

    void reattachingKeepsRecords()
    {
        SampleMenu sample;
        QAction* get = sample.file->actions().at(0);
        OwnerDrawMenu bar(&sample.bar);
        MenuItemRecord* before = OwnerDrawMenu::record(get);
        before->text = QStringLiteral("kept");
        // A second object over the same menu finds the records that are there.
        OwnerDrawMenu popup;
        QVERIFY(popup.attach(sample.file));
        QCOMPARE(OwnerDrawMenu::record(get), before);
        QCOMPARE(OwnerDrawMenu::record(get)->text, QStringLiteral("kept"));
    }

    void separatorDrawsOneGrayLine()
    {
        OwnerDrawStyle style;
        const QImage image = render(style, QSize(100, 5), QString(), separatorState());
        const QColor gray(128, 128, 128);
        const int lineLeft = style.imageWidth() + 8 + 4;
        QCOMPARE(image.pixelColor(lineLeft, 2), gray);
        QCOMPARE(image.pixelColor(99, 2), gray);
        QVERIFY(image.pixelColor(lineLeft - 1, 2) != gray);
        QVERIFY(image.pixelColor(50, 1) != gray);
        QVERIFY(image.pixelColor(50, 3) != gray);
    }

    void bandWithoutGradientIsSolidBandEnd()
    {
        OwnerDrawStyle style;
        const QPalette palette = fixedPalette();
        const QColor band = blend86(palette.color(QPalette::Window), palette.color(QPalette::Base));
        const QColor bandEnd = darken(64, band);
        QImage withGradient = render(style, QSize(120, 22), QStringLiteral("x"), {});
        QVERIFY(withGradient.pixelColor(0, 11) != bandEnd);
        QVERIFY(withGradient.pixelColor(23, 11) != withGradient.pixelColor(0, 11));
        style.setGradients(false);
        const QImage solid = render(style, QSize(120, 22), QStringLiteral("x"), {});
        QCOMPARE(solid.pixelColor(0, 11), bandEnd);
        QCOMPARE(solid.pixelColor(23, 11), bandEnd);
        QCOMPARE(solid.pixelColor(24, 11), palette.color(QPalette::Window));
    }

    void selectedItemHasItsFrame()
    {
        OwnerDrawStyle style;
        const QColor highlight = fixedPalette().color(QPalette::Highlight);
        const QImage plain = render(style, QSize(120, 22), QStringLiteral("x"), {});
        const QImage selected =
            render(style, QSize(120, 22), QStringLiteral("x"), selectedState());
        QCOMPARE(selected.pixelColor(0, 0), highlight);
        QCOMPARE(selected.pixelColor(119, 21), highlight);
        QVERIFY(plain.pixelColor(119, 21) != highlight);
        // Inside the frame the selection gradient runs from light at the top to darker.
        QVERIFY(selected.pixelColor(100, 1).lightness() > selected.pixelColor(100, 20).lightness());

        // A menu-bar item: no band; the frame and a solid selection fill the item
        // lowered by 2 pixels and narrowed by 2 at the right.
        OwnerDrawStyle::ItemState barState = selectedState();
        barState.menuBarItem = true;
        const QImage bar = render(style, QSize(60, 22), QString(), barState);
        const QPalette palette = fixedPalette();
        const QColor menu = palette.color(QPalette::Window);
        const QColor selection = blend70(palette.color(QPalette::Base), highlight);
        QCOMPARE(bar.pixelColor(30, 1), menu);
        QCOMPARE(bar.pixelColor(30, 2), highlight);
        QCOMPARE(bar.pixelColor(0, 10), highlight);
        QCOMPARE(bar.pixelColor(57, 10), highlight);
        QCOMPARE(bar.pixelColor(58, 10), menu);
        QCOMPARE(bar.pixelColor(57, 21), highlight);
        QCOMPARE(bar.pixelColor(2, 3), selection);
        QCOMPARE(bar.pixelColor(56, 20), selection);
    }

    void checkedItemDrawsItsBox()
    {
        SampleMenu sample;
        sample.language->setPalette(fixedPalette());
        auto* group = new QActionGroup(sample.language);
        QAction* english = sample.language->actions().at(0);
        QAction* russian = addCommand(sample.language, QStringLiteral("Russian"), 43001);
        for (QAction* action : {english, russian}) {
            action->setCheckable(true);
            group->addAction(action);
        }
        russian->setChecked(true);
        OwnerDrawMenu menu(&sample.bar);
        sample.language->ensurePolished();
        sample.language->adjustSize();
        const QImage image = sample.language->grab().toImage();
        if (qEnvironmentVariableIsSet("MENU_TEST_IMAGE")) {
            image.save(qEnvironmentVariable("MENU_TEST_IMAGE"));
        }

        const QColor highlight = fixedPalette().color(QPalette::Highlight);
        const QRect checked = sample.language->actionGeometry(russian);
        const QRect unchecked = sample.language->actionGeometry(english);
        const int boxLeft = checked.left() + 1;
        QCOMPARE(image.pixelColor(boxLeft, checked.center().y()), highlight);
        QVERIFY(image.pixelColor(boxLeft, unchecked.center().y()) != highlight);
        // The mark: ink in the middle of the box of the checked item only.
        const QPoint middle(checked.left() + (menu.style()->imageWidth() + 8) / 2,
                            checked.center().y());
        QVERIFY(image.pixelColor(middle).lightness() < 100);
        QVERIFY(image.pixelColor(middle.x(), unchecked.center().y()).lightness() > 150);
    }
};

QTEST_MAIN(OwnerDrawMenuTest)
#include "owner_draw_menu_test.moc"
