#pragma once

#include <QString>

class QWidget;

namespace tessaly {

class CopyEngine;
class LanguageTable;
class ModalPrompts;
struct WindowSettings;

// The copier's own dialogs over owner, in the language of language; programFolder holds
// the help pages. Each returns when the user has closed it.
struct CopierDialogs
{
    QWidget* owner;
    const LanguageTable& language;
    ModalPrompts& prompts;
    QString programFolder;

    // About, titled title, with its link to the help pages.
    void about(const QString& title) const;
    // The copying settings sheet at page (0 General, 1 Algorithm, 2 Reserved copies):
    // accepted values act on the engine at once and land in settings.
    void copyingSettings(int page, CopyEngine& engine, WindowSettings& settings) const;
    // The start and prompt behaviour; accepted values land in settings.
    void miscSettings(WindowSettings& settings) const;
};

}  // namespace tessaly
