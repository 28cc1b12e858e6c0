#include "settings/settings_page.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "ui/ui_text.h"

namespace tessaly {

SettingsPage::SettingsPage(const SettingsDialogContext& context, QWidget* parent)
    : QWidget(parent), m_context(context)
{
}

QString SettingsPage::text(std::uint32_t id) const
{
    return settingsText(m_context.language, id);
}

QString settingsText(const LanguageTable& language, std::uint32_t id)
{
    return uiText(language, id);
}

QGroupBox* addGroup(QWidget* page, const QString& title)
{
    auto* group = new QGroupBox(title, page);
    new QVBoxLayout(group);
    if (QLayout* layout = page->layout()) {
        layout->addWidget(group);
    }
    return group;
}

QButtonGroup* makeRadios(QWidget* parent, const QStringList& texts)
{
    auto* radios = new QButtonGroup(parent);
    radios->setExclusive(true);
    for (int i = 0; i < texts.size(); ++i) {
        radios->addButton(new QRadioButton(texts[i], parent), i);
    }
    return radios;
}

namespace {

// The widget's own state, whatever its dialog's state is.
bool ownEnabled(const QWidget* widget)
{
    return widget->isEnabledTo(widget->parentWidget());
}

}  // namespace

void bindField(QLineEdit* field, bool enabled, const QString& stored)
{
    if (!enabled) {
        field->clear();
    } else if (!ownEnabled(field)) {
        field->setText(stored);
    }
    field->setEnabled(enabled);
}

void bindBox(QAbstractButton* box, bool enabled, bool stored)
{
    if (!enabled) {
        box->setChecked(false);
    } else if (!ownEnabled(box)) {
        box->setChecked(stored);
    }
    box->setEnabled(enabled);
}

int checkedId(const QButtonGroup* radios)
{
    return radios->checkedId();
}

QLineEdit* digitField(QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,9}")), field));
    return field;
}

}  // namespace tessaly
