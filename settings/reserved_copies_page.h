#pragma once

#include "settings/settings_page.h"

class QButtonGroup;
class QLineEdit;
class QPushButton;

namespace tessaly {

// The Reserved copies page: where the reserved copies of a file are made.
class ReservedCopiesPage : public SettingsPage
{
    Q_OBJECT
public:
    ReservedCopiesPage(const SettingsDialogContext& context, const SheetSettings& values,
                       QWidget* parent = nullptr);

    // Refuses (false, values unchanged) In this folder with an empty folder; otherwise
    // writes the placement and, for In this folder, the folder.
    bool apply(SheetSettings& values) const override;
    int helpContext() const override { return settings_help::kReserved; }
    QString title() const override;

    QButtonGroup* placementGroup() const { return m_placement; }
    QLineEdit* folderField() const { return m_folder; }
    QPushButton* browseButton() const { return m_browse; }

private:
    // The folder and its button are enabled for In this folder only.
    void updateEnabling();
    // Asks for a folder; a chosen one replaces the field's text.
    void browse();

    SheetSettings m_stored;
    QButtonGroup* m_placement = nullptr;  // ids: ReservedPlacement
    QLineEdit* m_folder = nullptr;
    QPushButton* m_browse = nullptr;
};

}  // namespace tessaly
