#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>

#include "engine/engine_settings.h"

class QAbstractButton;
class QButtonGroup;
class QGroupBox;
class QLineEdit;

namespace tessaly {

class LanguageTable;
class ModalPrompts;

// What the settings dialogs need besides the values they edit: the texts of the
// language in use, the prompts (help viewer, folder picker) and the program folder,
// below which the help pages lie.
struct SettingsDialogContext
{
    const LanguageTable& language;
    ModalPrompts& prompts;
    QString programFolder;
};

// What the copying settings sheet edits: every setting of the engine and the one
// window field its General page binds.
struct SheetSettings
{
    EngineSettings engine;
    std::int32_t dontAskConfirmForExistings = 1;
};

// Ids of the language texts the settings dialogs show.
namespace settings_text {
inline constexpr std::uint32_t kHelp = 3;
inline constexpr std::uint32_t kSheetCaption = 9;
inline constexpr std::uint32_t kGeneralTitle = 10;
inline constexpr std::uint32_t kCancel = 19;
inline constexpr std::uint32_t kAlgorithmTitle = 37;
inline constexpr std::uint32_t kReservedTitle = 38;
inline constexpr std::uint32_t kMiscTitle = 39;
inline constexpr std::uint32_t kLogGroup = 45;
inline constexpr std::uint32_t kCreateLog = 46;
inline constexpr std::uint32_t kDeleteLog = 47;
inline constexpr std::uint32_t kAttemptsGroup = 48;
inline constexpr std::uint32_t kAuto = 49;
inline constexpr std::uint32_t kOptimizeGroup = 50;
inline constexpr std::uint32_t kData = 51;
inline constexpr std::uint32_t kSpeed = 52;
inline constexpr std::uint32_t kFillGroup = 53;
inline constexpr std::uint32_t kZeros = 54;
inline constexpr std::uint32_t kValues = 55;
inline constexpr std::uint32_t kStrings = 56;
inline constexpr std::uint32_t kNothing = 57;
inline constexpr std::uint32_t kPlacementGroup = 58;
inline constexpr std::uint32_t kInThisFolder = 59;
inline constexpr std::uint32_t kInSameFolder = 60;
inline constexpr std::uint32_t kAskMeWhere = 61;
inline constexpr std::uint32_t kCopyingGroup = 62;
inline constexpr std::uint32_t kStartAutomatically = 63;
inline constexpr std::uint32_t kReuseOutFolder = 64;
inline constexpr std::uint32_t kLastGood = 65;
inline constexpr std::uint32_t kExistingGroup = 72;
inline constexpr std::uint32_t kReplace = 73;  // then one text per ExistingPolicy, in order
inline constexpr std::uint32_t kAskConfirmation = 78;
inline constexpr std::uint32_t kQuickStartGroup = 94;
inline constexpr std::uint32_t kUseQuickStart = 95;
inline constexpr std::uint32_t kAddFolder = 96;
inline constexpr std::uint32_t kAddFiles = 97;
inline constexpr std::uint32_t kMessagesGroup = 98;
inline constexpr std::uint32_t kAskAddReserveds = 99;
inline constexpr std::uint32_t kAskMissingLog = 100;
inline constexpr std::uint32_t kTrimPass = 131;
inline constexpr std::uint32_t kRetryPasses = 151;
inline constexpr std::uint32_t kEasyFirst = 170;
inline constexpr std::uint32_t kWaitForMedium = 157;  // Miscellaneous: wait for a removed medium
}  // namespace settings_text

// Help contexts of the settings dialogs.
namespace settings_help {
inline constexpr int kAlgorithm = 6;
inline constexpr int kGeneral = 7;
inline constexpr int kReserved = 8;
inline constexpr int kMiscellaneous = 9;
}  // namespace settings_help

// One page of the copying settings sheet. A page shows the values it was made with
// and writes its controls back only through apply().
class SettingsPage : public QWidget
{
    Q_OBJECT
public:
    SettingsPage(const SettingsDialogContext& context, QWidget* parent);

    // Writes the page's controls into values. False when the page refuses its input;
    // values are then unchanged.
    virtual bool apply(SheetSettings& values) const = 0;
    // The help context of the page.
    virtual int helpContext() const = 0;
    // The page's tab title.
    virtual QString title() const = 0;

protected:
    QString text(std::uint32_t id) const;
    const SettingsDialogContext& context() const { return m_context; }

private:
    SettingsDialogContext m_context;
};

// Building blocks shared by the pages and the miscellaneous dialog.
QString settingsText(const LanguageTable& language, std::uint32_t id);
// A group box whose contents are laid out top to bottom.
QGroupBox* addGroup(QWidget* page, const QString& title);
// An exclusive group of radio buttons with ids 0, 1, ... in the order of texts, made
// children of parent and not yet laid out.
QButtonGroup* makeRadios(QWidget* parent, const QStringList& texts);
// Enables or disables a field bound to a stored value: a disabled field is empty; a
// field that becomes enabled shows stored; one that stays enabled keeps what it holds,
// so a click elsewhere never undoes what the user typed. Pages make their bound
// controls disabled before the first bind, which then shows the stored value.
void bindField(QLineEdit* field, bool enabled, const QString& stored);
// Checks or clears a box bound to a stored flag, with the same rule.
void bindBox(QAbstractButton* box, bool enabled, bool stored);
// The id of the checked radio of radios, -1 when none is checked.
int checkedId(const QButtonGroup* radios);
// The enum value of the checked radio of a group made by makeRadios over the enum's
// values in order; last (the enum's last value) when none is checked.
template <class Enum>
Enum checkedValue(const QButtonGroup* radios, Enum last)
{
    const int checked = checkedId(radios);
    return checked >= 0 && checked <= static_cast<int>(last) ? static_cast<Enum>(checked) : last;
}
// A line field for digits only.
QLineEdit* digitField(QWidget* parent);

}  // namespace tessaly
