#pragma once

#include <QList>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <string>

#include "ui/modal_prompts.h"

namespace tessaly::testing {

// What the widget tests share.

// Points the programs' profile at the folder dir and returns the folder of the shipped
// language files and help pages (TESSALY_DATA_DIR), empty when it is not set.
inline std::string useTestProfile(const QString& dir)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
    return qgetenv("TESSALY_DATA_DIR").toStdString();
}

// Answers a window's questions in place of a person and remembers what was asked.
class ScriptedPrompts : public ModalPrompts
{
public:
    struct Message
    {
        Icon icon;
        QString caption;
        QString text;
    };
    struct FileQuestion
    {
        QString title;
        QString folder;
        QString filter;
        QString suffix;
    };

    void message(QWidget*, Icon icon, const QString& caption, const QString& text) override
    {
        messages.append({icon, caption, text});
        if (onMessage) {
            onMessage(messages.last());
        }
    }
    QString openFile(QWidget*, const QString& title, const QString& folder, const QString& filter,
                     const QString& suffix) override
    {
        fileQuestions.append({title, folder, filter, suffix});
        return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
    }
    void openHelp(const QUrl& page) override { helpPages.append(page); }
    PromptAnswer prompt(QWidget*, const Prompt& prompt) override
    {
        prompts.append(prompt);
        if (onPrompt) {
            onPrompt(prompt);
        }
        return promptAnswers.isEmpty() ? PromptAnswer{} : promptAnswers.takeFirst();
    }
    QString chooseFolder(QWidget*, const QString& title) override
    {
        folderTitles.append(title);
        return folderAnswers.isEmpty() ? QString() : folderAnswers.takeFirst();
    }
    QStringList openFiles(QWidget*, const QString& title, const QString& filter) override
    {
        fileQuestions.append({title, QString(), filter, QString()});
        return filesAnswers.isEmpty() ? QStringList() : filesAnswers.takeFirst();
    }
    QString saveFile(QWidget*, const QString& title, const QString& suggested,
                     const QString& filter) override
    {
        fileQuestions.append({title, suggested, filter, QString()});
        return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
    }

    QList<Message> messages;
    QList<FileQuestion> fileQuestions;
    QStringList fileAnswers;
    QList<QUrl> helpPages;
    QList<Prompt> prompts;
    QList<PromptAnswer> promptAnswers;  // when none is left: the second button, unticked
    QStringList folderTitles;
    QStringList folderAnswers;
    QList<QStringList> filesAnswers;
    std::function<void(const Message&)> onMessage;
    std::function<void(const Prompt&)> onPrompt;
};

// The profile both programs share, in the folder the test pointed QSettings at.
inline QSettings profile()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Brindlework"),
                     QStringLiteral("Tessaly"));
}

inline QString q(const std::string& path)
{
    return QString::fromStdString(path);
}

}  // namespace tessaly::testing
