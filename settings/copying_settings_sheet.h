#pragma once

#include <QDialog>

#include <array>

#include "settings/settings_page.h"

class QTabWidget;
class QPushButton;

namespace tessaly {

class CopyEngine;
struct WindowSettings;

// The values the sheet edits, taken from the engine and the window.
SheetSettings sheetSettingsOf(const CopyEngine& engine, const WindowSettings& window);
// Hands accepted sheet values to the engine (at once) and to the window's field.
void applySheetSettings(const SheetSettings& values, CopyEngine& engine, WindowSettings& window);

// The copying settings: General, Algorithm and Reserved copies as tabs, with OK and
// Cancel. OK runs the apply step of every page that was shown, in page order; when a
// page refuses, the sheet stays open on that page and nothing is handed back. The
// sheet edits a copy of the values; values() gives the accepted ones. F1 opens the help
// of the page in front.
class CopyingSettingsSheet : public QDialog
{
    Q_OBJECT
public:
    enum class Page
    {
        General = 0,
        Algorithm = 1,
        ReservedCopies = 2,
    };
    static constexpr int kPageCount = 3;

    CopyingSettingsSheet(const SettingsDialogContext& context, const SheetSettings& values,
                         Page page, QWidget* parent = nullptr);

    // The values as accepted by OK; the ones the sheet was made with before that.
    const SheetSettings& values() const { return m_values; }

    SettingsPage* page(Page page) const { return m_pages[static_cast<std::size_t>(page)]; }
    QTabWidget* tabs() const { return m_tabs; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }

    // The OK button's step: true and the dialog accepted when every shown page applied.
    bool tryAccept();

private:
    void openHelp();

    SettingsDialogContext m_context;
    SheetSettings m_values;
    QTabWidget* m_tabs = nullptr;
    std::array<SettingsPage*, kPageCount> m_pages{};
    std::array<bool, kPageCount> m_shown{};
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};

}  // namespace tessaly
