#pragma once

#include <QString>

class QWidget;

namespace tessaly {

// The platform's folder picker, for the places that ask for a folder.
class FolderBrowser
{
public:
    // Shows the picker owned by owner, starting in root when given. True when a folder
    // was chosen; path() then holds it. A cancel leaves path() empty.
    bool choose(QWidget* owner, const QString& root, const QString& title);
    const QString& path() const { return m_path; }

private:
    QString m_path;
};

}  // namespace tessaly
