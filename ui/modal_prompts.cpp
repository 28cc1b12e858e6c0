#include "ui/modal_prompts.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace tessaly {

void DesktopPrompts::message(QWidget* owner, Icon icon, const QString& caption,
                             const QString& text)
{
    QMessageBox box(icon == Icon::Error ? QMessageBox::Critical : QMessageBox::Information,
                    caption, text, QMessageBox::Ok, owner);
    box.exec();
}

QString DesktopPrompts::openFile(QWidget* owner, const QString& title, const QString& folder,
                                 const QString& filter, const QString& defaultSuffix)
{
    QFileDialog dialog(owner, title, folder, filter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (!defaultSuffix.isEmpty()) {
        dialog.setDefaultSuffix(defaultSuffix);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

void DesktopPrompts::openHelp(const QUrl& page)
{
    // A missing page is reported by the viewer, not by the program.
    QDesktopServices::openUrl(page);
}

QString DesktopPrompts::chooseFolder(QWidget* owner, const QString& title)
{
    return QFileDialog::getExistingDirectory(owner, title);
}

QUrl helpPage(const QString& programFolder, int context)
{
    QString page;
    switch (context) {
        case 3: page = QStringLiteral("velmora.html"); break;
        case 4: page = QStringLiteral("copier.html"); break;
        case 6: page = QStringLiteral("settings.html#algorithm"); break;
        case 7: page = QStringLiteral("settings.html#general"); break;
        case 8: page = QStringLiteral("settings.html#reserved"); break;
        case 9: page = QStringLiteral("settings.html#miscellaneous"); break;
        case 10: page = QStringLiteral("copier.html#map"); break;
        default: page = QStringLiteral("index.html"); break;
    }
    const qsizetype hash = page.indexOf(u'#');
    QUrl url = QUrl::fromLocalFile(
        QDir(programFolder).filePath(QStringLiteral("Help/") + page.left(hash < 0 ? page.size() : hash)));
    if (hash >= 0) {
        url.setFragment(page.mid(hash + 1));
    }
    return url;
}

}  // namespace tessaly
