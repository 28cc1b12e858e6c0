// Renders the copying settings sheet at each of its pages and the miscellaneous dialog
// into PNG files, with the default values of an empty profile:
//   settings_screenshots LANGUAGE_FOLDER LANGUAGE_FILE OUTPUT_FOLDER
#include <QApplication>
#include <QDir>
#include <QTabWidget>

#include <cstdio>

#include "settings/copying_settings_sheet.h"
#include "settings/misc_dialog.h"
#include "settings/window_settings.h"
#include "texts/language_table.h"
#include "ui/modal_prompts.h"

using namespace tessaly;

namespace {

bool save(QWidget& dialog, const QString& file)
{
    dialog.show();
    QApplication::processEvents();
    const bool saved = dialog.grab().save(file);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(file));
    dialog.hide();
    return saved;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s LANGUAGE_FOLDER LANGUAGE_FILE OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    LanguageTable language;
    if (!language.loadLanguage(std::filesystem::path(argv[1]), argv[2])) {
        std::fprintf(stderr, "cannot load %s from %s\n", argv[2], argv[1]);
        return 1;
    }
    DesktopPrompts prompts;
    const SettingsDialogContext context{language, prompts, QString::fromLocal8Bit(argv[1])};
    const QDir out(QString::fromLocal8Bit(argv[3]));
    SheetSettings values;
    values.engine.reservedPlacement = ReservedPlacement::InFolder;
    values.engine.reservedFolder = "/media/spare/copies/";
    values.engine.fillType = FillType::Value;
    values.engine.optimizeFor = 0.38f;
    const char* const names[] = {"settings-general.png", "settings-algorithm.png",
                                 "settings-reserved.png"};
    bool ok = true;
    for (int page = 0; page < CopyingSettingsSheet::kPageCount; ++page) {
        CopyingSettingsSheet sheet(context, values, static_cast<CopyingSettingsSheet::Page>(page));
        ok = save(sheet, out.filePath(QString::fromLatin1(names[page]))) && ok;
    }
    MiscDialog misc(context, WindowSettings{});
    ok = save(misc, out.filePath(QStringLiteral("settings-misc.png"))) && ok;
    return ok ? 0 : 1;
}
