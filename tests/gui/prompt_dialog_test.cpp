#include "ui/prompt_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <functional>

#include "ui/about_dialog.h"

using namespace tessaly;

namespace {

ModalPrompts::Prompt question(bool offerCheck)
{
    ModalPrompts::Prompt prompt;
    prompt.message = QStringLiteral("The destination file already exists.");
    prompt.caption = QStringLiteral("Confirmation");
    prompt.firstButton = QStringLiteral("Yes");
    prompt.secondButton = QStringLiteral("No");
    prompt.checkLabel = QStringLiteral("Don't show again");
    prompt.offerCheck = offerCheck;
    return prompt;
}

QPushButton* button(QDialog& dialog, const QString& text)
{
    for (QPushButton* candidate : dialog.findChildren<QPushButton*>()) {
        if (candidate->text() == text) {
            return candidate;
        }
    }
    return nullptr;
}

// Runs the dialog; act does what a person would once it is open.
ModalPrompts::PromptAnswer askWith(PromptDialog& dialog, std::function<void()> act)
{
    QTimer::singleShot(0, &dialog, std::move(act));
    return dialog.ask();
}

}  // namespace

class PromptDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void theCheckBoxCountsWhicheverButtonCloses()
    {
        PromptDialog ticked(question(true));
        QCOMPARE(ticked.windowTitle(), QStringLiteral("Confirmation"));
        auto* check = ticked.findChild<QCheckBox*>(QStringLiteral("promptCheck"));
        QVERIFY(check != nullptr);
        QVERIFY(button(ticked, "Yes")->isDefault());
        ModalPrompts::PromptAnswer answer = askWith(ticked, [&] {
            QVERIFY(check->isVisible());
            check->click();
            button(ticked, "No")->click();
        });
        QCOMPARE(answer.button, 2);
        QVERIFY(answer.checked);

        PromptDialog unticked(question(true));
        check = unticked.findChild<QCheckBox*>(QStringLiteral("promptCheck"));
        answer = askWith(unticked, [&] {
            check->click();
            check->click();
            button(unticked, "Yes")->click();
        });
        QCOMPARE(answer.button, 1);
        QVERIFY(!answer.checked);
    }

    void withoutACheckBoxOnlyTheButtonCounts()
    {
        PromptDialog dialog(question(false));
        auto* check = dialog.findChild<QCheckBox*>(QStringLiteral("promptCheck"));
        const ModalPrompts::PromptAnswer answer = askWith(dialog, [&] {
            QVERIFY(!check->isVisible());
            check->setChecked(true);  // hidden, so it cannot count
            dialog.reject();          // Escape or the close button
        });
        QCOMPARE(answer.button, 2);
        QVERIFY(!answer.checked);
    }

    void aboutShowsTheProductInGreenAndAsksForTheWebPage()
    {
        const QUrl page = QUrl::fromLocalFile("/usr/share/tessaly/Help/index.html");
        AboutDialog about({"About...", "Tessaly 2.1", QString(), page});
        auto* product = about.findChild<QLabel*>(QStringLiteral("productName"));
        QCOMPARE(product->text(), QStringLiteral("Tessaly 2.1"));
        QVERIFY(product->font().bold());
        QCOMPARE(product->palette().color(QPalette::WindowText), QColor(50, 150, 50));
        QSignalSpy web(&about, &AboutDialog::webRequested);
        about.findChild<QPushButton*>(QStringLiteral("webButton"))->click();
        QCOMPARE(web.count(), 1);
        QCOMPARE(web[0][0].toUrl(), page);

        AboutDialog noWeb({"About...", "Velmora 2.1", QString(), QUrl()});
        QVERIFY(noWeb.findChild<QPushButton*>(QStringLiteral("webButton")) == nullptr);
    }
};

QTEST_MAIN(PromptDialogTest)
#include "prompt_dialog_test.moc"
