// velmora: moves the missing regions of a salvaged copy, as its copy log lists them,
// out of a readable instance into a transfer file (Get) and from there into the copy
// (Put).
//
// --screenshot=FILE renders the window as it opens into FILE (PNG) and ends;
// --screenshot-menu=FILE does the same with the File menu open.

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>

#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/program_folder.h"
#include "texts/language_table.h"
#include "tool/tool_window.h"
#include "ui/modal_prompts.h"

namespace {

constexpr char kUsage[] =
    "Usage: velmora [--screenshot=FILE] [--screenshot-menu=FILE]\n"
    "Moves the missing regions of a salvaged copy, as its copy log lists them, out of a\n"
    "readable instance of the file into a transfer file (File, Get) and from there into\n"
    "the copy (File, Put).\n"
    "\n"
    "  --screenshot=FILE       render the window as it opens into FILE (PNG) and end\n"
    "  --screenshot-menu=FILE  the same with the File menu open\n"
    "  -h, --help              show this text\n";

// True when the arguments ask for the usage text, which needs no display.
bool asksForHelp(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") return true;
    }
    return false;
}

QString optionValue(const QStringList& arguments, const QString& name)
{
    const QString prefix = name + u'=';
    for (const QString& argument : arguments) {
        if (argument.startsWith(prefix)) {
            return argument.mid(prefix.size());
        }
    }
    return {};
}

// The window, and with openMenu its File menu drawn open below its caption with the
// first item selected.
QImage renderWindow(tessaly::ToolWindow& window, bool openMenu)
{
    window.show();
    QCoreApplication::processEvents();
    const QImage frame = window.grab().toImage();
    if (!openMenu) {
        return frame;
    }
    QMenuBar* bar = window.menuBar();
    QAction* fileItem = bar->actions().constFirst();
    QMenu* file = fileItem->menu();
    file->ensurePolished();
    file->adjustSize();
    file->setActiveAction(file->actions().constFirst());
    const QImage popup = file->grab().toImage();
    const QPoint at = bar->mapTo(&window, bar->actionGeometry(fileItem).bottomLeft()) + QPoint(0, 1);

    QImage canvas(std::max(frame.width(), at.x() + popup.width()),
                  std::max(frame.height(), at.y() + popup.height()), QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.drawImage(0, 0, frame);
    painter.drawImage(at, popup);
    return canvas;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (asksForHelp(argc, argv)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Brindlework"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessaly"));

    const QStringList arguments = QCoreApplication::arguments();
    const QString screenshot = optionValue(arguments, QStringLiteral("--screenshot"));
    const QString menuShot = optionValue(arguments, QStringLiteral("--screenshot-menu"));

    std::error_code error;
    tessaly::ToolWindow::Setup setup;
    setup.programFolder = tessaly::programFolder();
    setup.startFolder = std::filesystem::current_path(error);

    tessaly::LanguageTable language;
    tessaly::DesktopPrompts prompts;
    tessaly::ToolWindow window(language, prompts, setup);
    if (!window.initialize()) {
        return 1;
    }
    if (!screenshot.isEmpty() || !menuShot.isEmpty()) {
        bool saved = true;
        if (!screenshot.isEmpty()) {
            saved = renderWindow(window, false).save(screenshot) && saved;
        }
        if (!menuShot.isEmpty()) {
            saved = renderWindow(window, true).save(menuShot) && saved;
        }
        if (!saved) {
            std::fprintf(stderr, "velmora: the picture could not be written\n");
        }
        window.stopSequence();
        window.exec();
        return saved ? 0 : 1;
    }
    window.show();
    return window.exec() == 1 ? 0 : 1;
}
