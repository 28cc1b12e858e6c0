#include "ui/modal_prompts.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

#include "ui/folder_browser.h"
#include "ui/prompt_dialog.h"

namespace tessaly {
namespace {

QMessageBox::Icon messageBoxIcon(ModalPrompts::Icon icon)
{
    switch (icon) {
        case ModalPrompts::Icon::Error: return QMessageBox::Critical;
        case ModalPrompts::Icon::Question: return QMessageBox::Question;
        case ModalPrompts::Icon::Notice: break;
    }
    return QMessageBox::Information;
}

}  // namespace

void DesktopPrompts::message(QWidget* owner, Icon icon, const QString& caption,
                             const QString& text)
{
    QMessageBox box(messageBoxIcon(icon), caption, text, QMessageBox::Ok, owner);
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

ModalPrompts::PromptAnswer DesktopPrompts::prompt(QWidget* owner, const Prompt& prompt)
{
    PromptDialog dialog(prompt, owner);
    return dialog.ask();
}

QString DesktopPrompts::chooseFolder(QWidget* owner, const QString& title)
{
    FolderBrowser browser;
    return browser.choose(owner, QString(), title) ? browser.path() : QString();
}

QStringList DesktopPrompts::openFiles(QWidget* owner, const QString& title, const QString& filter)
{
    QFileDialog dialog(owner, title, QString(), filter);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return dialog.selectedFiles();
}

QString DesktopPrompts::saveFile(QWidget* owner, const QString& title, const QString& suggested,
                                 const QString& filter)
{
    QFileDialog dialog(owner, title, QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.selectFile(suggested);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().first();
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
