#include "settings/copying_settings_sheet.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>

#include "engine/copy_engine.h"
#include "settings/algorithm_page.h"
#include "settings/general_page.h"
#include "settings/reserved_copies_page.h"
#include "settings/window_settings.h"
#include "ui/modal_prompts.h"

namespace tessaly {

namespace t = settings_text;

SheetSettings sheetSettingsOf(const CopyEngine& engine, const WindowSettings& window)
{
    return SheetSettings{engine.settings(), window.dontAskConfirmForExistings};
}

void applySheetSettings(const SheetSettings& values, CopyEngine& engine, WindowSettings& window)
{
    engine.setSettings(values.engine);
    window.dontAskConfirmForExistings = values.dontAskConfirmForExistings;
}

CopyingSettingsSheet::CopyingSettingsSheet(const SettingsDialogContext& context,
                                           const SheetSettings& values, Page page,
                                           QWidget* parent)
    : QDialog(parent), m_context(context), m_values(values)
{
    setWindowTitle(settingsText(context.language, t::kSheetCaption));
    m_tabs = new QTabWidget(this);
    m_pages = {new GeneralPage(context, values), new AlgorithmPage(context, values),
               new ReservedCopiesPage(context, values)};
    for (SettingsPage* each : m_pages) {
        m_tabs->addTab(each, each->title());
    }
    auto* buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    m_cancel = buttons->addButton(settingsText(context.language, t::kCancel),
                                  QDialogButtonBox::RejectRole);
    m_ok->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    const int index = static_cast<int>(page);
    m_tabs->setCurrentIndex(index >= 0 && index < kPageCount ? index : 0);
    m_shown[static_cast<std::size_t>(m_tabs->currentIndex())] = true;
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int shown) {
        if (shown >= 0 && shown < kPageCount) m_shown[static_cast<std::size_t>(shown)] = true;
    });
    connect(m_ok, &QPushButton::clicked, this, &CopyingSettingsSheet::tryAccept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, &CopyingSettingsSheet::openHelp);
}

bool CopyingSettingsSheet::tryAccept()
{
    SheetSettings accepted = m_values;
    for (int i = 0; i < kPageCount; ++i) {
        if (!m_shown[static_cast<std::size_t>(i)]) continue;
        if (!m_pages[static_cast<std::size_t>(i)]->apply(accepted)) {
            m_tabs->setCurrentIndex(i);
            return false;
        }
    }
    m_values = accepted;
    accept();
    return true;
}

void CopyingSettingsSheet::openHelp()
{
    const auto* front = static_cast<const SettingsPage*>(m_tabs->currentWidget());
    m_context.prompts.openHelp(helpPage(m_context.programFolder, front->helpContext()));
}

}  // namespace tessaly
