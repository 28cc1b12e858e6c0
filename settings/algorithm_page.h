#pragma once

#include "settings/settings_page.h"

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QSlider;
class QSpinBox;
class QToolButton;
class QVBoxLayout;

namespace tessaly {

// The slider position (0 Data to 100 Speed) that shows optimizeFor: the nearest one, so
// a value set from position p shows p again after the engine's single-precision sum.
int sliderPosition(float optimizeFor);

// The Algorithm page: read attempts of bad sectors, what the copy optimises for, and
// the fill of sectors that could not be read.
class AlgorithmPage : public SettingsPage
{
    Q_OBJECT
public:
    // Range of the count's up and down arrows; a larger count may be typed.
    static constexpr int kCountStepMin = 1;
    static constexpr int kCountStepMax = 3;

    AlgorithmPage(const SettingsDialogContext& context, const SheetSettings& values,
                  QWidget* parent = nullptr);

    // Refuses (false, values unchanged) a count that is empty or 0 while Auto is off, a
    // byte value that is empty or above 255 for Values, an empty string for Strings.
    // Otherwise writes Auto, the count (only while Auto is off), the fill string (empty
    // for every fill but Strings), the byte value (only for Values), the fill and the
    // slider's value (kept as it was while the slider stays where it was shown) and
    // the trim pass with its number of retry passes.
    bool apply(SheetSettings& values) const override;
    int helpContext() const override { return settings_help::kAlgorithm; }
    QString title() const override;

    QCheckBox* autoBox() const { return m_auto; }
    QLineEdit* countField() const { return m_count; }
    QToolButton* countUp() const { return m_up; }
    QToolButton* countDown() const { return m_down; }
    QSlider* slider() const { return m_slider; }
    QButtonGroup* fillGroup() const { return m_fill; }
    QLineEdit* valueField() const { return m_value; }
    QLineEdit* stringField() const { return m_string; }
    QCheckBox* trimBox() const { return m_trim; }
    QCheckBox* easyFirstBox() const { return m_easyFirst; }
    QSpinBox* retrySpin() const { return m_retry; }

private:
    void buildAttempts();
    void buildOptimize();
    void buildFill();
    void buildPasses(QVBoxLayout* layout, const SheetSettings& values);
    // The count follows Auto; the value and string fields follow the fill.
    void updateEnabling();
    void stepCount(int delta);

    SheetSettings m_stored;
    int m_shownPosition = 0;
    QCheckBox* m_auto = nullptr;
    QLineEdit* m_count = nullptr;
    QToolButton* m_up = nullptr;
    QToolButton* m_down = nullptr;
    QSlider* m_slider = nullptr;
    QButtonGroup* m_fill = nullptr;  // ids: FillType
    QLineEdit* m_value = nullptr;
    QLineEdit* m_string = nullptr;
    QCheckBox* m_easyFirst = nullptr;  // read the easy data of each file first
    QCheckBox* m_trim = nullptr;  // the trim pass at the end of each file
    QSpinBox* m_retry = nullptr;  // the retry passes after it: enabled while it is checked
};

}  // namespace tessaly
