#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace tessaly {

// Everything a window asks the user modally, and the help viewer. Windows reach the
// user only through this interface, so that tests can answer in place of a person.
class ModalPrompts
{
public:
    enum class Icon
    {
        Error,     // stop icon
        Notice,    // information icon
        Question,  // question icon
    };

    // A question of the program's own prompt dialog: a message beside an icon, two
    // buttons and, when offered, a "Don't show again" check box.
    struct Prompt
    {
        QString message;
        QString caption;
        Icon icon = Icon::Question;
        QString firstButton;  // the default button
        QString secondButton;
        QString checkLabel;
        bool offerCheck = false;
    };
    struct PromptAnswer
    {
        int button = 2;        // 1 the first button, 2 the second or a close
        bool checked = false;  // the check box's state when the dialog closed
    };

    virtual ~ModalPrompts() = default;

    // A message box with a single OK button; returns when it has been closed.
    virtual void message(QWidget* owner, Icon icon, const QString& caption,
                         const QString& text) = 0;
    // An open-file dialog for one existing file, starting in folder. filter is in the
    // "Description (*.ext)" form; defaultSuffix is appended to a name typed without one.
    // The chosen file's full path, or an empty string when the user cancelled.
    virtual QString openFile(QWidget* owner, const QString& title, const QString& folder,
                             const QString& filter, const QString& defaultSuffix) = 0;
    // Opens a page of the help, or the program's web page, in the desktop's viewer.
    virtual void openHelp(const QUrl& page) = 0;
    // The prompt dialog; returns when it has been closed.
    virtual PromptAnswer prompt(QWidget* owner, const Prompt& prompt) = 0;
    // The folder picker; the chosen folder, or an empty string when the user cancelled.
    virtual QString chooseFolder(QWidget* owner, const QString& title) = 0;
    // An open-file dialog for several existing files; none when the user cancelled.
    virtual QStringList openFiles(QWidget* owner, const QString& title, const QString& filter) = 0;
    // A save-file dialog that starts at suggested and asks before an existing file is
    // replaced; the chosen path, or an empty string when the user cancelled.
    virtual QString saveFile(QWidget* owner, const QString& title, const QString& suggested,
                             const QString& filter) = 0;
};

// The prompts a person answers: QMessageBox, QFileDialog and the desktop's browser.
class DesktopPrompts : public ModalPrompts
{
public:
    void message(QWidget* owner, Icon icon, const QString& caption, const QString& text) override;
    QString openFile(QWidget* owner, const QString& title, const QString& folder,
                     const QString& filter, const QString& defaultSuffix) override;
    void openHelp(const QUrl& page) override;
    PromptAnswer prompt(QWidget* owner, const Prompt& prompt) override;
    QString chooseFolder(QWidget* owner, const QString& title) override;
    QStringList openFiles(QWidget* owner, const QString& title, const QString& filter) override;
    QString saveFile(QWidget* owner, const QString& title, const QString& suggested,
                     const QString& filter) override;
};

// The page of the help pages below programFolder that explains help context
// context (3 the companion tool, 4 the copier's window, 6 to 9 the settings, 10 the
// block map); any other context opens the contents.
QUrl helpPage(const QString& programFolder, int context);

}  // namespace tessaly
