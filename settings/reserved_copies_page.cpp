#include "settings/reserved_copies_page.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/modal_prompts.h"
#include "ui/path_text.h"

namespace tessaly {

namespace t = settings_text;

ReservedCopiesPage::ReservedCopiesPage(const SettingsDialogContext& context,
                                       const SheetSettings& values, QWidget* parent)
    : SettingsPage(context, parent), m_stored(values)
{
    auto* layout = new QVBoxLayout(this);
    QGroupBox* group = addGroup(this, text(t::kPlacementGroup));
    m_placement = makeRadios(
        group, {text(t::kInThisFolder), text(t::kInSameFolder), text(t::kAskMeWhere)});
    m_folder = new QLineEdit(group);
    m_browse = new QPushButton(QStringLiteral("..."), group);
    m_browse->setFixedWidth(m_browse->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 16);
    auto* grid = new QGridLayout;
    grid->addWidget(m_placement->button(0), 0, 0);
    grid->addWidget(m_folder, 0, 1);
    grid->addWidget(m_browse, 0, 2);
    grid->addWidget(m_placement->button(1), 1, 0, 1, 3);
    grid->addWidget(m_placement->button(2), 2, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    static_cast<QVBoxLayout*>(group->layout())->addLayout(grid);
    layout->addStretch(1);

    const int placement = static_cast<int>(values.engine.reservedPlacement);
    if (QAbstractButton* radio = m_placement->button(placement)) {
        radio->setChecked(true);
    }
    m_folder->setEnabled(false);
    updateEnabling();
    connect(m_placement, &QButtonGroup::idClicked, this, &ReservedCopiesPage::updateEnabling);
    connect(m_browse, &QPushButton::clicked, this, &ReservedCopiesPage::browse);
}

QString ReservedCopiesPage::title() const
{
    return text(t::kReservedTitle);
}

void ReservedCopiesPage::updateEnabling()
{
    const bool inFolder = m_placement->checkedId() == static_cast<int>(ReservedPlacement::InFolder);
    bindField(m_folder, inFolder, pathText(m_stored.engine.reservedFolder));
    m_browse->setEnabled(inFolder);
}

void ReservedCopiesPage::browse()
{
    const QString chosen = context().prompts.chooseFolder(this, QString());
    if (!chosen.isEmpty()) {
        m_folder->setText(chosen);
    }
}

bool ReservedCopiesPage::apply(SheetSettings& values) const
{
    const ReservedPlacement placement = checkedValue(m_placement, kLastReservedPlacement);
    if (placement == ReservedPlacement::InFolder && m_folder->text().isEmpty()) return false;
    values.engine.reservedPlacement = placement;
    if (placement == ReservedPlacement::InFolder) {
        values.engine.reservedFolder = pathBytes(m_folder->text());
    }
    return true;
}

}  // namespace tessaly
