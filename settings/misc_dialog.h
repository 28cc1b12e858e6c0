#pragma once

#include <QDialog>

#include <cstdint>

#include "settings/settings_page.h"

class QButtonGroup;
class QCheckBox;
class QPushButton;
class QRadioButton;

namespace tessaly {

struct WindowSettings;

// The window's start and prompt behaviour: quick start, automatic start, keeping the
// output folder, and the questions of a copy run. Edits a copy of the window's values
// and hands back the fields it binds through applyTo(). F1 and Help open the help.
class MiscDialog : public QDialog
{
    Q_OBJECT
public:
    MiscDialog(const SettingsDialogContext& context, const WindowSettings& window,
               QWidget* parent = nullptr);

    // Writes AutoStartCopying, ReuseOutFolder, QuickStart, DontAskForAddReserveds,
    // DontAskForLog and WaitForMedium as the controls show them; every state of the
    // controls is accepted.
    void applyTo(WindowSettings& window) const;

    QCheckBox* quickStartBox() const { return m_quickStart; }
    QRadioButton* addFolderRadio() const { return m_addFolder; }
    QRadioButton* addFilesRadio() const { return m_addFiles; }
    QCheckBox* autoStartBox() const { return m_autoStart; }
    QCheckBox* reuseOutFolderBox() const { return m_reuseOutFolder; }
    QCheckBox* askAddReservedsBox() const { return m_askAddReserveds; }
    QCheckBox* askMissingLogBox() const { return m_askMissingLog; }
    QCheckBox* waitForMediumBox() const { return m_waitForMedium; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* helpButton() const { return m_help; }

private:
    void build();
    // Ticked: the radio of the window's QuickStart is selected and both are enabled;
    // cleared: both are cleared and disabled.
    void applyQuickStartRule();
    void openHelp();

    SettingsDialogContext m_context;
    std::int32_t m_storedQuickStart = 2;
    QCheckBox* m_quickStart = nullptr;
    QButtonGroup* m_quickStartKind = nullptr;
    QRadioButton* m_addFolder = nullptr;
    QRadioButton* m_addFiles = nullptr;
    QCheckBox* m_autoStart = nullptr;
    QCheckBox* m_reuseOutFolder = nullptr;
    QCheckBox* m_askAddReserveds = nullptr;
    QCheckBox* m_askMissingLog = nullptr;
    QCheckBox* m_waitForMedium = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_help = nullptr;
};

}  // namespace tessaly
