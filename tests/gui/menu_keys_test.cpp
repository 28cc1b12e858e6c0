#include "ui/menu_keys.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QSignalSpy>
#include <QtTest>

#include "ui/owner_draw_menu.h"

using namespace tessaly;

namespace {

QAction* addCommand(QMenu* menu, const QString& text, quint32 id)
{
    QAction* action = menu->addAction(text);
    action->setData(id);
    return action;
}

// A window whose bar carries language texts without marks, the way the programs
// build it: File (Start, Stop, Settings), Settings (Language > ...), Help.
struct SampleWindow
{
    QMainWindow window;
    OwnerDrawMenu owner;
    QMenu* file = nullptr;
    QMenu* settings = nullptr;
    QMenu* language = nullptr;
    QMenu* help = nullptr;

    SampleWindow()
    {
        QMenuBar* bar = window.menuBar();
        file = bar->addMenu(QStringLiteral("File"));
        addCommand(file, QStringLiteral("Start copying\tCtrl+S"), 1);
        addCommand(file, QStringLiteral("Stop copying\tCtrl+A"), 2);
        file->addSeparator();
        addCommand(file, QStringLiteral("Exit\tAlt+X"), 3);
        settings = bar->addMenu(QStringLiteral("Settings"));
        language = settings->addMenu(QStringLiteral("Language"));
        help = bar->addMenu(QStringLiteral("Help"));
        addCommand(help, QStringLiteral("Help"), 4);
        owner.attach(bar);
        window.resize(400, 200);
    }

    bool showActive()
    {
        window.show();
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window);
    }
};

}  // namespace

class MenuKeysTest : public QObject
{
    Q_OBJECT

private slots:
    void mnemonicIsFirstLetterOrDigitOfTheLabel_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("letter");
        QTest::addColumn<QString>("label");
        QTest::newRow("plain") << "File" << "F" << "&File";
        QTest::newRow("lower case") << "add files\tCtrl+O" << "A" << "&add files";
        QTest::newRow("leading signs") << "...Help" << "H" << "...&Help";
        QTest::newRow("digit") << "(2) copies" << "2" << "(&2) copies";
        QTest::newRow("cyrillic") << QString::fromUtf8("Файл") << QString::fromUtf8("Ф")
                                  << QString::fromUtf8("&Файл");
        QTest::newRow("marked stays") << "E&xit\tAlt+X" << "X" << "E&xit";
        QTest::newRow("double ampersand is no mark") << "Tom && Jerry" << "T" << "&Tom && Jerry";
        QTest::newRow("tab only") << "\tCtrl+S" << "" << "";
        QTest::newRow("no letter") << "--" << "" << "--";
    }
    void mnemonicIsFirstLetterOrDigitOfTheLabel()
    {
        QFETCH(QString, text);
        QFETCH(QString, letter);
        QFETCH(QString, label);
        const QChar found = mnemonicOf(text);
        QCOMPARE(found.isNull() ? QString() : QString(found), letter);
        QCOMPARE(markedLabel(text.left(text.indexOf(u'\t') < 0 ? text.size() : text.indexOf(u'\t'))),
                 label);
    }

    void altLetterOpensTopLevelMenuAndFollowsRetexting()
    {
        SampleWindow sample;
        if (!sample.showActive()) QSKIP("the offscreen platform gave the window no focus");
        QTest::keyClick(&sample.window, Qt::Key_S, Qt::AltModifier);
        QTRY_VERIFY(sample.settings->isVisible());
        sample.settings->hide();
        QTRY_VERIFY(!sample.settings->isVisible());

        // A language switch re-texts the bar; the keys follow the new texts.
        QVERIFY(sample.owner.setItemTextAt(1, QStringLiteral("Einstellungen")));
        QVERIFY(sample.owner.setItemTextAt(0, QStringLiteral("Datei")));
        QTest::keyClick(&sample.window, Qt::Key_D, Qt::AltModifier);
        QTRY_VERIFY(sample.file->isVisible());
        QCOMPARE(sample.window.menuBar()->activeAction(), sample.file->menuAction());
        sample.file->hide();
    }

    void f10OpensFirstMenu()
    {
        SampleWindow sample;
        if (!sample.showActive()) QSKIP("the offscreen platform gave the window no focus");
        QTest::keyClick(&sample.window, Qt::Key_F10);
        QTRY_VERIFY(sample.file->isVisible());
        sample.file->hide();
    }

    void letterInOpenMenuRunsTheOnlyItemAndMovesAmongSeveral()
    {
        SampleWindow sample;
        QSignalSpy triggered(sample.file, &QMenu::triggered);
        sample.file->popup(QPoint(0, 0));
        QTRY_VERIFY(sample.file->isVisible());
        const QList<QAction*> items = sample.file->actions();

        // Two items start with S: the letter moves between them and runs neither.
        QTest::keyClick(sample.file, Qt::Key_S);
        QCOMPARE(sample.file->activeAction(), items[0]);
        QTest::keyClick(sample.file, Qt::Key_S);
        QCOMPARE(sample.file->activeAction(), items[1]);
        QTest::keyClick(sample.file, Qt::Key_S);
        QCOMPARE(sample.file->activeAction(), items[0]);
        QCOMPARE(triggered.count(), 0);

        // A disabled item does not answer; the only remaining one runs at once.
        items[1]->setEnabled(false);
        QTest::keyClick(sample.file, Qt::Key_S);
        QCOMPARE(triggered.count(), 1);
        QCOMPARE(triggered.at(0).at(0).value<QAction*>()->data().toUInt(), 1u);
        QTRY_VERIFY(!sample.file->isVisible());

        // A letter no item answers is left to the menu.
        sample.file->popup(QPoint(0, 0));
        QTRY_VERIFY(sample.file->isVisible());
        QTest::keyClick(sample.file, Qt::Key_Q);
        QCOMPARE(triggered.count(), 1);
        QVERIFY(sample.file->isVisible());
        sample.file->hide();
    }

    void letterOpensSubmenuAddedLater()
    {
        SampleWindow sample;
        addCommand(sample.language, QStringLiteral("English"), 44000);
        addCommand(sample.language, QStringLiteral("Deutsch"), 44001);
        sample.owner.refresh();
        QSignalSpy triggered(sample.language, &QMenu::triggered);
        sample.settings->popup(QPoint(0, 0));
        QTRY_VERIFY(sample.settings->isVisible());
        QTest::keyClick(sample.settings, Qt::Key_L);
        QTRY_VERIFY(sample.language->isVisible());
        QTest::keyClick(sample.language, Qt::Key_D);
        QCOMPARE(triggered.count(), 1);
        QCOMPARE(triggered.at(0).at(0).value<QAction*>()->data().toUInt(), 44001u);
    }

    void detachRemovesTheKeys()
    {
        SampleWindow sample;
        QVERIFY(!sample.window.menuBar()->findChildren<QShortcut*>().isEmpty());
        sample.owner.detach();
        QTRY_VERIFY(sample.window.menuBar()->findChildren<QShortcut*>().isEmpty());
        QVERIFY(sample.file->findChildren<MenuKeys*>().isEmpty());
    }
};

QTEST_MAIN(MenuKeysTest)
#include "menu_keys_test.moc"
