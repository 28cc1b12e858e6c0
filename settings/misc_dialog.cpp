#include "settings/misc_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "settings/window_settings.h"
#include "ui/modal_prompts.h"

namespace tessaly {

namespace t = settings_text;

namespace {

constexpr auto kQuickStartNone = static_cast<std::int32_t>(QuickStart::None);
constexpr auto kQuickStartFolder = static_cast<std::int32_t>(QuickStart::AddFolder);
constexpr auto kQuickStartFiles = static_cast<std::int32_t>(QuickStart::AddFiles);

}  // namespace

MiscDialog::MiscDialog(const SettingsDialogContext& context, const WindowSettings& window,
                       QWidget* parent)
    : QDialog(parent), m_context(context), m_storedQuickStart(window.quickStart)
{
    build();
    m_autoStart->setChecked(window.autoStartCopying != 0);
    m_reuseOutFolder->setChecked(window.reuseOutFolder != 0);
    m_quickStart->setChecked(window.quickStart != kQuickStartNone);
    m_askAddReserveds->setChecked(window.dontAskForAddReserveds == 0);
    m_askMissingLog->setChecked(window.dontAskForLog == 0);
    m_waitForMedium->setChecked(window.waitForMedium != 0);
    applyQuickStartRule();
    connect(m_quickStart, &QCheckBox::clicked, this, &MiscDialog::applyQuickStartRule);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_help, &QPushButton::clicked, this, &MiscDialog::openHelp);
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, &MiscDialog::openHelp);
}

void MiscDialog::build()
{
    const auto text = [this](std::uint32_t id) { return settingsText(m_context.language, id); };
    setWindowTitle(text(t::kMiscTitle));
    auto* layout = new QVBoxLayout(this);
    QGroupBox* quick = addGroup(this, text(t::kQuickStartGroup));
    m_quickStart = new QCheckBox(text(t::kUseQuickStart), quick);
    m_quickStartKind = makeRadios(quick, {text(t::kAddFolder), text(t::kAddFiles)});
    m_addFolder = static_cast<QRadioButton*>(m_quickStartKind->button(0));
    m_addFiles = static_cast<QRadioButton*>(m_quickStartKind->button(1));
    for (QWidget* control : {static_cast<QWidget*>(m_quickStart), static_cast<QWidget*>(m_addFolder),
                             static_cast<QWidget*>(m_addFiles)}) {
        quick->layout()->addWidget(control);
    }
    QGroupBox* copying = addGroup(this, text(t::kCopyingGroup));
    m_autoStart = new QCheckBox(text(t::kStartAutomatically), copying);
    m_reuseOutFolder = new QCheckBox(text(t::kReuseOutFolder), copying);
    m_waitForMedium = new QCheckBox(text(t::kWaitForMedium), copying);
    copying->layout()->addWidget(m_autoStart);
    copying->layout()->addWidget(m_reuseOutFolder);
    copying->layout()->addWidget(m_waitForMedium);
    QGroupBox* messages = addGroup(this, text(t::kMessagesGroup));
    m_askAddReserveds = new QCheckBox(text(t::kAskAddReserveds), messages);
    m_askMissingLog = new QCheckBox(text(t::kAskMissingLog), messages);
    messages->layout()->addWidget(m_askAddReserveds);
    messages->layout()->addWidget(m_askMissingLog);

    auto* buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    m_cancel = buttons->addButton(text(t::kCancel), QDialogButtonBox::RejectRole);
    m_help = buttons->addButton(text(t::kHelp), QDialogButtonBox::HelpRole);
    m_ok->setDefault(true);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void MiscDialog::applyQuickStartRule()
{
    const bool on = m_quickStart->isChecked();
    // An exclusive group keeps one radio checked; clearing both needs it off for a moment.
    m_quickStartKind->setExclusive(false);
    m_addFolder->setChecked(on && m_storedQuickStart != kQuickStartFiles);
    m_addFiles->setChecked(on && m_storedQuickStart == kQuickStartFiles);
    m_quickStartKind->setExclusive(true);
    m_addFolder->setEnabled(on);
    m_addFiles->setEnabled(on);
}

void MiscDialog::applyTo(WindowSettings& window) const
{
    window.autoStartCopying = m_autoStart->isChecked() ? 1 : 0;
    window.reuseOutFolder = m_reuseOutFolder->isChecked() ? 1 : 0;
    window.quickStart = !m_quickStart->isChecked() ? kQuickStartNone
                        : m_addFolder->isChecked() ? kQuickStartFolder
                                                   : kQuickStartFiles;
    window.dontAskForAddReserveds = m_askAddReserveds->isChecked() ? 0 : 1;
    window.dontAskForLog = m_askMissingLog->isChecked() ? 0 : 1;
    window.waitForMedium = m_waitForMedium->isChecked() ? 1 : 0;
}

void MiscDialog::openHelp()
{
    m_context.prompts.openHelp(helpPage(m_context.programFolder, settings_help::kMiscellaneous));
}

}  // namespace tessaly
