#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <algorithm>

#include "engine/copy_engine.h"
#include "settings/algorithm_page.h"
#include "settings/copying_settings_sheet.h"
#include "settings/general_page.h"
#include "settings/misc_dialog.h"
#include "settings/reserved_copies_page.h"
#include "settings/settings_table.h"
#include "settings/window_settings.h"
#include "tests/gui/gui_test_support.h"
#include "texts/language_table.h"
#include "ui/modal_prompts.h"
#include "ui/ui_text.h"

using namespace tessaly;

namespace {

// Answers in place of a person and remembers the help pages asked for.
using RecordingPrompts = testing::ScriptedPrompts;

// Values that differ from every default, so that a field written by mistake shows.
SheetSettings sampleValues()
{
    SheetSettings values;
    values.engine.autoRereads = false;
    values.engine.rereadCount = 2;
    values.engine.createLog = true;
    values.engine.deleteLogIfNoErrors = true;
    values.engine.fillType = FillType::Value;
    values.engine.fillValue = 200;
    values.engine.fillString = "XY";
    values.engine.optimizeFor = 0.25f;
    values.engine.reservedPlacement = ReservedPlacement::InFolder;
    values.engine.reservedFolder = "/media/spare/";
    values.engine.existingPolicy = ExistingPolicy::Append;
    values.dontAskConfirmForExistings = 0;
    return values;
}

bool sameValues(const SheetSettings& a, const SheetSettings& b)
{
    return a.engine == b.engine && a.dontAskConfirmForExistings == b.dontAskConfirmForExistings;
}

// A click as the user makes it: nothing on a disabled button, the signals otherwise.
void click(QAbstractButton* button)
{
    button->click();
}

}  // namespace

class SettingsDialogsTest : public QObject
{
    Q_OBJECT

    LanguageTable m_english;
    RecordingPrompts m_prompts;
    SettingsDialogContext context() { return {m_english, m_prompts, QStringLiteral("/opt/tessaly")}; }

    template <typename Page>
    void applyAndExpect(const Page& page, SheetSettings before, bool accepted,
                        SheetSettings& after)
    {
        after = before;
        QCOMPARE(page.apply(after), accepted);
        if (!accepted) QVERIFY(sameValues(after, before));
    }

private slots:
    void initTestCase()
    {
        const QByteArray data = qgetenv("TESSALY_DATA_DIR");
        QVERIFY2(!data.isEmpty(), "TESSALY_DATA_DIR is not set");
        QVERIFY(m_english.loadLanguage(std::filesystem::path(data.toStdString()), "english.lng"));
    }

    void init()
    {
        m_prompts.helpPages.clear();
        m_prompts.folderAnswers.clear();
        m_prompts.folderTitles.clear();
    }

    void generalPageLogBoxes()
    {
        const SheetSettings stored = sampleValues();
        GeneralPage page(context(), stored);
        QVERIFY(page.createLogBox()->isChecked());
        QVERIFY(page.deleteLogBox()->isEnabled());
        QVERIFY(page.deleteLogBox()->isChecked());
        QCOMPARE(page.policyGroup()->checkedId(), static_cast<int>(ExistingPolicy::Append));
        QCOMPARE(page.deleteLogBox()->text(), uiText(m_english, 47));

        // Create log off: delete-log cleared and disabled, and its stored value stays.
        click(page.createLogBox());
        QVERIFY(!page.deleteLogBox()->isEnabled());
        QVERIFY(!page.deleteLogBox()->isChecked());
        SheetSettings after;
        applyAndExpect(page, stored, true, after);
        QVERIFY(!after.engine.createLog);
        QVERIFY(after.engine.deleteLogIfNoErrors);

        // Ticked again, delete-log shows the stored value; a user's change is written.
        click(page.createLogBox());
        QVERIFY(page.deleteLogBox()->isEnabled());
        QVERIFY(page.deleteLogBox()->isChecked());
        click(page.deleteLogBox());
        applyAndExpect(page, stored, true, after);
        QVERIFY(after.engine.createLog);
        QVERIFY(!after.engine.deleteLogIfNoErrors);
    }

    void generalPagePolicyAndConfirmation()
    {
        const SheetSettings stored = sampleValues();  // Append, confirmation asked
        GeneralPage page(context(), stored);
        QVERIFY(page.askConfirmationBox()->isEnabled());
        QVERIFY(page.askConfirmationBox()->isChecked());

        // Skip: confirmation cleared and disabled; its stored value stays.
        click(page.policyGroup()->button(3));
        QVERIFY(!page.askConfirmationBox()->isEnabled());
        QVERIFY(!page.askConfirmationBox()->isChecked());
        SheetSettings after;
        applyAndExpect(page, stored, true, after);
        QCOMPARE(after.engine.existingPolicy, ExistingPolicy::Skip);
        QCOMPARE(after.dontAskConfirmForExistings, 0);

        // Replace restores the stored tick; the user clears it, and a click on another
        // policy keeps what the user did.
        click(page.policyGroup()->button(0));
        QVERIFY(page.askConfirmationBox()->isChecked());
        click(page.askConfirmationBox());
        click(page.policyGroup()->button(2));
        QVERIFY(!page.askConfirmationBox()->isChecked());
        applyAndExpect(page, stored, true, after);
        QCOMPARE(after.engine.existingPolicy, ExistingPolicy::Resume);
        QCOMPARE(after.dontAskConfirmForExistings, 1);
        QVERIFY(after.engine.fillType == stored.engine.fillType);
    }

    void algorithmPageCount()
    {
        SheetSettings stored = sampleValues();
        stored.engine.autoRereads = true;
        AlgorithmPage page(context(), stored);
        // Auto: the count is empty and disabled, and its stored value stays.
        QVERIFY(page.countField()->text().isEmpty());
        QVERIFY(!page.countField()->isEnabled());
        QVERIFY(!page.countUp()->isEnabled());
        SheetSettings after;
        applyAndExpect(page, stored, true, after);
        QVERIFY(after.engine.autoRereads);
        QCOMPARE(after.engine.rereadCount, 2u);

        click(page.autoBox());
        QCOMPARE(page.countField()->text(), QStringLiteral("2"));
        QVERIFY(page.countUp()->isEnabled());
        page.countField()->clear();
        applyAndExpect(page, stored, false, after);
        page.countField()->setText(QStringLiteral("0"));
        applyAndExpect(page, stored, false, after);
        // A larger count may be typed; the arrows step within 1 to 3.
        page.countField()->setText(QStringLiteral("7"));
        applyAndExpect(page, stored, true, after);
        QVERIFY(!after.engine.autoRereads);
        QCOMPARE(after.engine.rereadCount, 7u);
        click(page.countUp());
        QCOMPARE(page.countField()->text(), QStringLiteral("3"));
        click(page.countDown());
        click(page.countDown());
        click(page.countDown());
        QCOMPARE(page.countField()->text(), QStringLiteral("1"));
        click(page.countUp());
        QCOMPARE(page.countField()->text(), QStringLiteral("2"));
        // A typed count survives a click on a fill.
        page.countField()->setText(QStringLiteral("5"));
        click(page.fillGroup()->button(0));
        QCOMPARE(page.countField()->text(), QStringLiteral("5"));
    }

    void algorithmPageFills()
    {
        const SheetSettings stored = sampleValues();  // Values 200, string "XY"
        AlgorithmPage page(context(), stored);
        QCOMPARE(page.valueField()->text(), QStringLiteral("200"));
        QVERIFY(page.valueField()->isEnabled());
        QVERIFY(page.stringField()->text().isEmpty());
        QVERIFY(!page.stringField()->isEnabled());

        SheetSettings after;
        page.valueField()->setText(QStringLiteral("256"));
        applyAndExpect(page, stored, false, after);
        page.valueField()->clear();
        applyAndExpect(page, stored, false, after);
        page.valueField()->setText(QStringLiteral("255"));
        applyAndExpect(page, stored, true, after);
        QCOMPARE(after.engine.fillType, FillType::Value);
        QCOMPARE(after.engine.fillValue, 255);
        QCOMPARE(after.engine.fillString, std::string());

        // Values to Zeros keeps the byte value and clears the string.
        click(page.fillGroup()->button(0));
        QVERIFY(page.valueField()->text().isEmpty());
        QVERIFY(!page.valueField()->isEnabled());
        applyAndExpect(page, stored, true, after);
        QCOMPARE(after.engine.fillType, FillType::Zeros);
        QCOMPARE(after.engine.fillValue, 200);
        QCOMPARE(after.engine.fillString, std::string());

        click(page.fillGroup()->button(2));
        QCOMPARE(page.stringField()->text(), QStringLiteral("XY"));
        page.stringField()->clear();
        applyAndExpect(page, stored, false, after);
        page.stringField()->setText(QStringLiteral("BAD!"));
        applyAndExpect(page, stored, true, after);
        QCOMPARE(after.engine.fillType, FillType::String);
        QCOMPARE(after.engine.fillString, std::string("BAD!"));
        QCOMPARE(after.engine.fillValue, 200);

        for (int fill : {3, 4}) {
            click(page.fillGroup()->button(fill));
            QVERIFY(!page.stringField()->isEnabled() && !page.valueField()->isEnabled());
            applyAndExpect(page, stored, true, after);
            QCOMPARE(static_cast<int>(after.engine.fillType), fill);
        }
    }

    // Every position set on the page comes back at the same position after the engine
    // and the profile's float have held it.
    void algorithmSliderRoundTrip()
    {
        QTemporaryDir profileDir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, profileDir.path());
        for (int position = 0; position <= 100; ++position) {
            SheetSettings stored = sampleValues();
            stored.engine.optimizeFor = position == 50 ? 0.0f : 0.5f;
            AlgorithmPage first(context(), stored);
            first.slider()->setValue(position);
            SheetSettings accepted = stored;
            QVERIFY(first.apply(accepted));

            CopyEngine engine;
            engine.setSettings(accepted.engine);
            ProfileSettings profile;
            profile.set(profile_key::kTime, engine.settings().optimizeFor);
            SheetSettings reopened = stored;
            reopened.engine.optimizeFor = profile.get(profile_key::kTime);
            AlgorithmPage second(context(), reopened);
            QCOMPARE(second.slider()->value(), position);
            SheetSettings again = reopened;
            QVERIFY(second.apply(again));
            QCOMPARE(again.engine.optimizeFor, reopened.engine.optimizeFor);
        }
        QCOMPARE(sliderPosition(0.37999f), 38);
    }

    // The trim check box shows the stored flag and writes what it shows; a refused
    // apply leaves the flag alone like every other value.
    void algorithmPageTrimPass()
    {
        for (const bool stored : {true, false}) {
            SheetSettings values = sampleValues();
            values.engine.trimPass = stored;
            AlgorithmPage page(context(), values);
            QCOMPARE(page.trimBox()->text(), QStringLiteral("Retry the edges of unread areas at the end"));
            QCOMPARE(page.trimBox()->isChecked(), stored);
            page.trimBox()->setChecked(!stored);
            SheetSettings accepted = values;
            QVERIFY(page.apply(accepted));
            QCOMPARE(accepted.engine.trimPass, !stored);

            page.autoBox()->setChecked(false);
            page.countField()->setText(QStringLiteral("0"));
            SheetSettings refused = values;
            QVERIFY(!page.apply(refused));
            QCOMPARE(refused.engine.trimPass, stored);
        }
    }

    // The number of retry passes: shown as stored, 0 to 9, and editable only while the
    // trim pass (which they follow) is on.
    void algorithmPageRetryPasses()
    {
        SheetSettings values = sampleValues();
        values.engine.retryPasses = 4;
        values.engine.trimPass = false;
        AlgorithmPage page(context(), values);
        QSpinBox* spin = page.retrySpin();
        QCOMPARE(spin->value(), 4);
        QCOMPARE(spin->minimum(), 0);
        QCOMPARE(spin->maximum(), 9);
        QVERIFY(!spin->isEnabled());
        const QList<QLabel*> labels = page.findChildren<QLabel*>();
        const auto label = std::find_if(labels.begin(), labels.end(),
                                        [spin](const QLabel* l) { return l->buddy() == spin; });
        QVERIFY(label != labels.end());
        QCOMPARE((*label)->text(), QStringLiteral("Retry passes over small unread areas:"));

        page.trimBox()->setChecked(true);
        QVERIFY(spin->isEnabled());
        spin->setValue(7);
        SheetSettings accepted = values;
        QVERIFY(page.apply(accepted));
        QCOMPARE(accepted.engine.retryPasses, 7u);
        page.trimBox()->setChecked(false);
        QVERIFY(!spin->isEnabled());
        spin->setValue(12);  // past its range: the most it holds
        QVERIFY(page.apply(accepted));
        QCOMPARE(accepted.engine.retryPasses, 9u);
        QVERIFY(!accepted.engine.trimPass);
    }

    void reservedCopiesPage()
    {
        const SheetSettings stored = sampleValues();
        ReservedCopiesPage page(context(), stored);
        QCOMPARE(page.folderField()->text(), QStringLiteral("/media/spare/"));
        QVERIFY(page.browseButton()->isEnabled());

        m_prompts.folderAnswers = {QString(), QStringLiteral("/mnt/backup")};
        click(page.browseButton());
        QCOMPARE(page.folderField()->text(), QStringLiteral("/media/spare/"));  // cancelled
        click(page.browseButton());
        QCOMPARE(page.folderField()->text(), QStringLiteral("/mnt/backup"));
        QCOMPARE(m_prompts.folderTitles, QStringList({QString(), QString()}));
        SheetSettings after;
        applyAndExpect(page, stored, true, after);
        QCOMPARE(after.engine.reservedFolder, std::string("/mnt/backup"));

        page.folderField()->clear();
        applyAndExpect(page, stored, false, after);

        for (int placement : {1, 2}) {
            click(page.placementGroup()->button(placement));
            QVERIFY(page.folderField()->text().isEmpty());
            QVERIFY(!page.folderField()->isEnabled() && !page.browseButton()->isEnabled());
            applyAndExpect(page, stored, true, after);
            QCOMPARE(static_cast<int>(after.engine.reservedPlacement), placement);
            QCOMPARE(after.engine.reservedFolder, stored.engine.reservedFolder);
        }
    }

    void sheetAppliesOnlyShownPagesAndStaysOnARefusal()
    {
        SheetSettings stored = sampleValues();
        stored.engine.fillType = FillType::Zeros;  // an applied Algorithm page clears the string
        CopyingSettingsSheet sheet(context(), stored, CopyingSettingsSheet::Page::General);
        QCOMPARE(sheet.windowTitle(), uiText(m_english, 9));
        QCOMPARE(sheet.tabs()->tabText(1), uiText(m_english, 37));
        QCOMPARE(sheet.cancelButton()->text(), uiText(m_english, 19));
        auto* general = static_cast<GeneralPage*>(sheet.page(CopyingSettingsSheet::Page::General));
        click(general->policyGroup()->button(0));
        QVERIFY(sheet.tryAccept());
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
        QCOMPARE(sheet.values().engine.existingPolicy, ExistingPolicy::Replace);
        QCOMPARE(sheet.values().engine.fillString, std::string("XY"));  // page never shown
    }

    void sheetRefusalKeepsEverything()
    {
        const SheetSettings stored = sampleValues();
        CopyingSettingsSheet sheet(context(), stored, CopyingSettingsSheet::Page::ReservedCopies);
        auto* general = static_cast<GeneralPage*>(sheet.page(CopyingSettingsSheet::Page::General));
        auto* algorithm =
            static_cast<AlgorithmPage*>(sheet.page(CopyingSettingsSheet::Page::Algorithm));
        sheet.tabs()->setCurrentIndex(0);
        click(general->policyGroup()->button(0));
        sheet.tabs()->setCurrentIndex(1);
        algorithm->valueField()->setText(QStringLiteral("300"));
        sheet.tabs()->setCurrentIndex(2);
        QVERIFY(!sheet.tryAccept());
        QCOMPARE(sheet.tabs()->currentIndex(), 1);
        QVERIFY(sameValues(sheet.values(), stored));
        QCOMPARE(sheet.result(), int(QDialog::Rejected));

        algorithm->valueField()->setText(QStringLiteral("30"));
        QVERIFY(sheet.tryAccept());
        QCOMPARE(sheet.values().engine.existingPolicy, ExistingPolicy::Replace);
        QCOMPARE(sheet.values().engine.fillValue, 30);
    }

    void sheetCancelAndHelp()
    {
        const SheetSettings stored = sampleValues();
        CopyingSettingsSheet sheet(context(), stored, CopyingSettingsSheet::Page::Algorithm);
        QCOMPARE(sheet.tabs()->currentIndex(), 1);
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        sheet.activateWindow();
        for (int index : {0, 1, 2}) {
            sheet.tabs()->setCurrentIndex(index);
            QTest::keyClick(sheet.tabs()->currentWidget(), Qt::Key_F1);
        }
        QCOMPARE(m_prompts.helpPages.size(), 3);
        QCOMPARE(m_prompts.helpPages[0], helpPage(QStringLiteral("/opt/tessaly"), 7));
        QCOMPARE(m_prompts.helpPages[1], helpPage(QStringLiteral("/opt/tessaly"), 6));
        QCOMPARE(m_prompts.helpPages[2], helpPage(QStringLiteral("/opt/tessaly"), 8));

        auto* algorithm =
            static_cast<AlgorithmPage*>(sheet.page(CopyingSettingsSheet::Page::Algorithm));
        click(algorithm->fillGroup()->button(4));
        click(sheet.cancelButton());
        QCOMPARE(sheet.result(), int(QDialog::Rejected));
        QVERIFY(sameValues(sheet.values(), stored));
    }

    // Accepted values act on the engine and the window at once and survive a restart.
    void acceptedValuesReachEngineAndProfile()
    {
        QTemporaryDir profileDir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, profileDir.path());
        CopyEngine engine;
        WindowSettings window;
        {
            ProfileSettings profile;
            loadSettings(profile, window, engine, profileDir.path().toStdString());
        }
        CopyingSettingsSheet sheet(context(), sheetSettingsOf(engine, window),
                                   CopyingSettingsSheet::Page::Algorithm);
        auto* algorithm =
            static_cast<AlgorithmPage*>(sheet.page(CopyingSettingsSheet::Page::Algorithm));
        click(algorithm->fillGroup()->button(2));
        algorithm->stringField()->setText(QStringLiteral("DEAD"));
        algorithm->slider()->setValue(38);
        sheet.tabs()->setCurrentIndex(0);
        auto* general = static_cast<GeneralPage*>(sheet.page(CopyingSettingsSheet::Page::General));
        click(general->askConfirmationBox());  // the default does not ask: now it asks
        QVERIFY(sheet.tryAccept());
        applySheetSettings(sheet.values(), engine, window);
        QCOMPARE(engine.settings().fillType, FillType::String);
        QCOMPARE(engine.settings().fillString, std::string("DEAD"));
        QCOMPARE(window.dontAskConfirmForExistings, 0);
        {
            ProfileSettings profile;
            saveSettings(profile, window, engine);
        }
        CopyEngine restarted;
        WindowSettings restartedWindow;
        ProfileSettings profile;
        loadSettings(profile, restartedWindow, restarted, profileDir.path().toStdString());
        QVERIFY(restarted.settings() == engine.settings());
        QCOMPARE(restartedWindow.dontAskConfirmForExistings, 0);
        AlgorithmPage reopened(context(), sheetSettingsOf(restarted, restartedWindow));
        QCOMPARE(reopened.slider()->value(), 38);
    }

    void miscDialogQuickStartRule()
    {
        WindowSettings window;
        window.quickStart = 1;
        MiscDialog dialog(context(), window);
        QVERIFY(dialog.quickStartBox()->isChecked());
        QVERIFY(dialog.addFolderRadio()->isChecked());
        QVERIFY(dialog.addFilesRadio()->isEnabled());

        click(dialog.addFilesRadio());
        click(dialog.quickStartBox());
        QVERIFY(!dialog.addFolderRadio()->isChecked() && !dialog.addFilesRadio()->isChecked());
        QVERIFY(!dialog.addFolderRadio()->isEnabled() && !dialog.addFilesRadio()->isEnabled());
        WindowSettings after = window;
        dialog.applyTo(after);
        QCOMPARE(after.quickStart, 0);

        // Ticked again: the window's QuickStart, not the radio last clicked.
        click(dialog.quickStartBox());
        QVERIFY(dialog.addFolderRadio()->isChecked());
        QVERIFY(!dialog.addFilesRadio()->isChecked());
        dialog.applyTo(after);
        QCOMPARE(after.quickStart, 1);
        click(dialog.addFilesRadio());
        dialog.applyTo(after);
        QCOMPARE(after.quickStart, 2);

        window.quickStart = 0;  // off: ticking it offers Add folder
        MiscDialog off(context(), window);
        QVERIFY(!off.quickStartBox()->isChecked());
        QVERIFY(!off.addFolderRadio()->isEnabled());
        click(off.quickStartBox());
        QVERIFY(off.addFolderRadio()->isChecked());
    }

    void miscDialogValuesAndHelp()
    {
        WindowSettings window;
        window.autoStartCopying = 1;
        window.reuseOutFolder = 0;
        window.dontAskForAddReserveds = 1;
        window.dontAskForLog = 0;
        window.quickStart = 2;
        window.outputFolder = "/out";
        MiscDialog dialog(context(), window);
        QCOMPARE(dialog.windowTitle(), uiText(m_english, 39));
        QCOMPARE(dialog.helpButton()->text(), uiText(m_english, 3));
        QVERIFY(dialog.autoStartBox()->isChecked());
        QVERIFY(!dialog.reuseOutFolderBox()->isChecked());
        QVERIFY(!dialog.askAddReservedsBox()->isChecked());
        QVERIFY(dialog.askMissingLogBox()->isChecked());
        QVERIFY(dialog.addFilesRadio()->isChecked());
        QVERIFY(!dialog.waitForMediumBox()->isChecked());
        QCOMPARE(dialog.waitForMediumBox()->text(), uiText(m_english, 157));

        for (QAbstractButton* box : {static_cast<QAbstractButton*>(dialog.autoStartBox()),
                                     static_cast<QAbstractButton*>(dialog.reuseOutFolderBox()),
                                     static_cast<QAbstractButton*>(dialog.askAddReservedsBox()),
                                     static_cast<QAbstractButton*>(dialog.askMissingLogBox()),
                                     static_cast<QAbstractButton*>(dialog.waitForMediumBox())}) {
            click(box);
        }
        WindowSettings after = window;
        dialog.applyTo(after);
        QCOMPARE(after.autoStartCopying, 0);
        QCOMPARE(after.reuseOutFolder, 1);
        QCOMPARE(after.dontAskForAddReserveds, 0);
        QCOMPARE(after.dontAskForLog, 1);
        QCOMPARE(after.waitForMedium, 1);
        QCOMPARE(after.quickStart, 2);
        QCOMPARE(after.outputFolder, std::string("/out"));

        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.activateWindow();
        click(dialog.helpButton());
        QTest::keyClick(dialog.autoStartBox(), Qt::Key_F1);
        QCOMPARE(m_prompts.helpPages.size(), 2);
        QCOMPARE(m_prompts.helpPages[0], helpPage(QStringLiteral("/opt/tessaly"), 9));
        QCOMPARE(m_prompts.helpPages[1], helpPage(QStringLiteral("/opt/tessaly"), 9));
        click(dialog.okButton());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
};

QTEST_MAIN(SettingsDialogsTest)
#include "settings_dialogs_test.moc"
