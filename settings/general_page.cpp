#include "settings/general_page.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QVBoxLayout>

namespace tessaly {

namespace t = settings_text;

GeneralPage::GeneralPage(const SettingsDialogContext& context, const SheetSettings& values,
                         QWidget* parent)
    : SettingsPage(context, parent), m_stored(values)
{
    auto* layout = new QVBoxLayout(this);
    QGroupBox* log = addGroup(this, text(t::kLogGroup));
    m_createLog = new QCheckBox(text(t::kCreateLog), log);
    m_deleteLog = new QCheckBox(text(t::kDeleteLog), log);
    log->layout()->addWidget(m_createLog);
    log->layout()->addWidget(m_deleteLog);

    QGroupBox* existing = addGroup(this, text(t::kExistingGroup));
    // The policies' texts follow each other in the language file, in the enum's order.
    QStringList policies;
    for (int i = 0; i <= static_cast<int>(kLastExistingPolicy); ++i) {
        policies << text(t::kReplace + static_cast<std::uint32_t>(i));
    }
    m_policy = makeRadios(existing, policies);
    for (QAbstractButton* radio : m_policy->buttons()) {
        existing->layout()->addWidget(radio);
    }
    m_askConfirmation = new QCheckBox(text(t::kAskConfirmation), existing);
    existing->layout()->addWidget(m_askConfirmation);
    layout->addStretch(1);

    m_createLog->setChecked(values.engine.createLog);
    if (QAbstractButton* radio = m_policy->button(static_cast<int>(values.engine.existingPolicy))) {
        radio->setChecked(true);
    }
    m_deleteLog->setEnabled(false);
    m_askConfirmation->setEnabled(false);
    updateEnabling();
    connect(m_createLog, &QCheckBox::clicked, this, &GeneralPage::updateEnabling);
    connect(m_policy, &QButtonGroup::idClicked, this, &GeneralPage::updateEnabling);
}

QString GeneralPage::title() const
{
    return text(t::kGeneralTitle);
}

void GeneralPage::updateEnabling()
{
    bindBox(m_deleteLog, m_createLog->isChecked(), m_stored.engine.deleteLogIfNoErrors);
    const bool skip = m_policy->checkedId() == static_cast<int>(ExistingPolicy::Skip);
    bindBox(m_askConfirmation, !skip, m_stored.dontAskConfirmForExistings == 0);
}

bool GeneralPage::apply(SheetSettings& values) const
{
    const ExistingPolicy policy = checkedValue(m_policy, kLastExistingPolicy);
    values.engine.existingPolicy = policy;
    values.engine.createLog = m_createLog->isChecked();
    if (m_createLog->isChecked()) {
        values.engine.deleteLogIfNoErrors = m_deleteLog->isChecked();
    }
    if (policy != ExistingPolicy::Skip) {
        values.dontAskConfirmForExistings = m_askConfirmation->isChecked() ? 0 : 1;
    }
    return true;
}

}  // namespace tessaly
