#pragma once

#include "settings/settings_page.h"

class QButtonGroup;
class QCheckBox;

namespace tessaly {

// The General page: the copy log and what to do with an existing destination.
class GeneralPage : public SettingsPage
{
    Q_OBJECT
public:
    GeneralPage(const SettingsDialogContext& context, const SheetSettings& values,
                QWidget* parent = nullptr);

    // Accepts every state of the controls. Delete-log is written only while Create log
    // is ticked, Ask for confirmation only while Skip is not selected.
    bool apply(SheetSettings& values) const override;
    int helpContext() const override { return settings_help::kGeneral; }
    QString title() const override;

    QCheckBox* createLogBox() const { return m_createLog; }
    QCheckBox* deleteLogBox() const { return m_deleteLog; }
    QButtonGroup* policyGroup() const { return m_policy; }
    QCheckBox* askConfirmationBox() const { return m_askConfirmation; }

private:
    // Delete-log follows Create log; Ask for confirmation is off and disabled for Skip.
    void updateEnabling();

    SheetSettings m_stored;
    QCheckBox* m_createLog = nullptr;
    QCheckBox* m_deleteLog = nullptr;
    QButtonGroup* m_policy = nullptr;  // ids: ExistingPolicy
    QCheckBox* m_askConfirmation = nullptr;
};

}  // namespace tessaly
