#include "settings/algorithm_page.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <optional>

namespace tessaly {

namespace t = settings_text;

namespace {

constexpr int kSliderMax = 100;

// The number in a digits-only field; nothing when it is empty.
std::optional<std::uint32_t> fieldNumber(const QLineEdit* field)
{
    bool ok = false;
    const uint number = field->text().toUInt(&ok);
    return ok ? std::optional<std::uint32_t>(number) : std::nullopt;
}

}  // namespace

int sliderPosition(float optimizeFor)
{
    const long position = std::lround(static_cast<double>(optimizeFor) * kSliderMax);
    return static_cast<int>(std::clamp(position, 0L, static_cast<long>(kSliderMax)));
}

AlgorithmPage::AlgorithmPage(const SettingsDialogContext& context, const SheetSettings& values,
                             QWidget* parent)
    : SettingsPage(context, parent), m_stored(values)
{
    auto* layout = new QVBoxLayout(this);
    buildAttempts();
    buildOptimize();
    buildFill();
    buildPasses(layout, values);
    layout->addStretch(1);

    m_auto->setChecked(values.engine.autoRereads);
    if (QAbstractButton* radio = m_fill->button(static_cast<int>(values.engine.fillType))) {
        radio->setChecked(true);
    }
    m_shownPosition = sliderPosition(values.engine.optimizeFor);
    m_slider->setValue(m_shownPosition);
    updateEnabling();
    connect(m_auto, &QCheckBox::clicked, this, &AlgorithmPage::updateEnabling);
    connect(m_trim, &QCheckBox::toggled, m_retry, &QSpinBox::setEnabled);
    connect(m_fill, &QButtonGroup::idClicked, this, &AlgorithmPage::updateEnabling);
    connect(m_up, &QToolButton::clicked, this, [this] { stepCount(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { stepCount(-1); });
}

void AlgorithmPage::buildAttempts()
{
    QGroupBox* group = addGroup(this, text(t::kAttemptsGroup));
    auto* row = new QHBoxLayout;
    m_auto = new QCheckBox(text(t::kAuto), group);
    m_count = digitField(group);
    m_count->setMaximumWidth(m_count->fontMetrics().horizontalAdvance(u'0') * 8);
    m_up = new QToolButton(group);
    m_up->setArrowType(Qt::UpArrow);
    m_down = new QToolButton(group);
    m_down->setArrowType(Qt::DownArrow);
    auto* arrows = new QVBoxLayout;
    arrows->setSpacing(0);
    for (QToolButton* arrow : {m_up, m_down}) {
        arrow->setFixedSize(16, 11);
        arrows->addWidget(arrow);
    }
    row->addWidget(m_auto);
    row->addWidget(m_count);
    row->addLayout(arrows);
    row->addStretch(1);
    static_cast<QVBoxLayout*>(group->layout())->addLayout(row);
    for (QWidget* bound : {static_cast<QWidget*>(m_count), static_cast<QWidget*>(m_up),
                           static_cast<QWidget*>(m_down)}) {
        bound->setEnabled(false);
    }
}

void AlgorithmPage::buildOptimize()
{
    QGroupBox* group = addGroup(this, text(t::kOptimizeGroup));
    auto* row = new QHBoxLayout;
    m_slider = new QSlider(Qt::Horizontal, group);
    m_slider->setRange(0, kSliderMax);
    m_slider->setTickPosition(QSlider::NoTicks);
    row->addWidget(new QLabel(text(t::kData), group));
    row->addWidget(m_slider, 1);
    row->addWidget(new QLabel(text(t::kSpeed), group));
    static_cast<QVBoxLayout*>(group->layout())->addLayout(row);
}

void AlgorithmPage::buildFill()
{
    QGroupBox* group = addGroup(this, text(t::kFillGroup));
    m_fill = makeRadios(group, {text(t::kZeros), text(t::kValues), text(t::kStrings),
                                text(t::kLastGood), text(t::kNothing)});
    m_value = digitField(group);
    m_string = new QLineEdit(group);
    auto* grid = new QGridLayout;
    for (QAbstractButton* radio : m_fill->buttons()) {
        grid->addWidget(radio, m_fill->id(radio), 0);
    }
    grid->addWidget(m_value, static_cast<int>(FillType::Value), 1);
    grid->addWidget(m_string, static_cast<int>(FillType::String), 1);
    grid->setColumnStretch(1, 1);
    static_cast<QVBoxLayout*>(group->layout())->addLayout(grid);
    m_value->setEnabled(false);
    m_string->setEnabled(false);
}

// The retry passes run only after the trim pass, so their number follows its box.
void AlgorithmPage::buildPasses(QVBoxLayout* layout, const SheetSettings& values)
{
    m_easyFirst = new QCheckBox(text(t::kEasyFirst), this);
    m_easyFirst->setChecked(values.engine.easyFirst);
    layout->addWidget(m_easyFirst);
    m_trim = new QCheckBox(text(t::kTrimPass), this);
    m_trim->setChecked(values.engine.trimPass);
    layout->addWidget(m_trim);
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(text(t::kRetryPasses), this);
    m_retry = new QSpinBox(this);
    m_retry->setRange(0, static_cast<int>(kMaxRetryPasses));
    m_retry->setValue(static_cast<int>(std::min(values.engine.retryPasses, kMaxRetryPasses)));
    m_retry->setEnabled(values.engine.trimPass);
    label->setBuddy(m_retry);
    row->addWidget(label);
    row->addWidget(m_retry);
    row->addStretch(1);
    layout->addLayout(row);
}

QString AlgorithmPage::title() const
{
    return text(t::kAlgorithmTitle);
}

void AlgorithmPage::updateEnabling()
{
    const bool manual = !m_auto->isChecked();
    bindField(m_count, manual, QString::number(m_stored.engine.rereadCount));
    m_up->setEnabled(manual);
    m_down->setEnabled(manual);
    const int fill = m_fill->checkedId();
    bindField(m_value, fill == static_cast<int>(FillType::Value),
              QString::number(m_stored.engine.fillValue & 0xFF));
    bindField(m_string, fill == static_cast<int>(FillType::String),
              QString::fromStdString(m_stored.engine.fillString));
}

void AlgorithmPage::stepCount(int delta)
{
    const int current = static_cast<int>(std::min<std::uint32_t>(
        fieldNumber(m_count).value_or(kCountStepMin), kCountStepMax + 1));
    m_count->setText(QString::number(std::clamp(current + delta, kCountStepMin, kCountStepMax)));
}

bool AlgorithmPage::apply(SheetSettings& values) const
{
    const bool autoRereads = m_auto->isChecked();
    const std::optional<std::uint32_t> count = fieldNumber(m_count);
    if (!autoRereads && count.value_or(0) == 0) return false;

    const FillType fill = checkedValue(m_fill, kLastFillType);
    const std::optional<std::uint32_t> byte = fieldNumber(m_value);
    if (fill == FillType::Value && (!byte || *byte > 255)) return false;
    if (fill == FillType::String && m_string->text().isEmpty()) return false;

    values.engine.autoRereads = autoRereads;
    if (!autoRereads) values.engine.rereadCount = *count;
    values.engine.fillString =
        fill == FillType::String ? m_string->text().toStdString() : std::string();
    if (fill == FillType::Value) values.engine.fillValue = static_cast<std::uint8_t>(*byte);
    values.engine.fillType = fill;
    values.engine.easyFirst = m_easyFirst->isChecked();
    values.engine.trimPass = m_trim->isChecked();
    values.engine.retryPasses = static_cast<std::uint32_t>(m_retry->value());
    if (m_slider->value() != m_shownPosition) {
        values.engine.optimizeFor = static_cast<float>(m_slider->value()) / kSliderMax;
    }
    return true;
}

}  // namespace tessaly
