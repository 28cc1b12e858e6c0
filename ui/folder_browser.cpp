#include "ui/folder_browser.h"

#include <QFileDialog>

namespace tessaly {

bool FolderBrowser::choose(QWidget* owner, const QString& root, const QString& title)
{
    m_path = QFileDialog::getExistingDirectory(owner, title, root, QFileDialog::ShowDirsOnly);
    return !m_path.isEmpty();
}

}  // namespace tessaly
