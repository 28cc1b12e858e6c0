#include "copier/copier_dialogs.h"

#include <QObject>
#include <QUrl>

#include "settings/copying_settings_sheet.h"
#include "settings/misc_dialog.h"
#include "ui/about_dialog.h"
#include "ui/modal_prompts.h"

namespace tessaly {

void CopierDialogs::about(const QString& title) const
{
    AboutDialog box({title, QStringLiteral("Tessaly 2.1"), QStringLiteral(":/icons/tessaly.png"),
                     helpPage(programFolder, 0)},
                    owner);
    ModalPrompts* open = &prompts;
    QObject::connect(&box, &AboutDialog::webRequested, owner,
                     [open](const QUrl& page) { open->openHelp(page); });
    box.exec();
}

void CopierDialogs::copyingSettings(int page, CopyEngine& engine, WindowSettings& settings) const
{
    const SettingsDialogContext context{language, prompts, programFolder};
    CopyingSettingsSheet sheet(context, sheetSettingsOf(engine, settings),
                               static_cast<CopyingSettingsSheet::Page>(page), owner);
    if (sheet.exec() == QDialog::Accepted) {
        applySheetSettings(sheet.values(), engine, settings);
    }
}

void CopierDialogs::miscSettings(WindowSettings& settings) const
{
    const SettingsDialogContext context{language, prompts, programFolder};
    MiscDialog misc(context, settings, owner);
    if (misc.exec() == QDialog::Accepted) {
        misc.applyTo(settings);
    }
}

}  // namespace tessaly
