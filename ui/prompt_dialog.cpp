#include "ui/prompt_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "ui/dialog_units.h"

namespace tessaly {
namespace {

QStyle::StandardPixmap standardIcon(ModalPrompts::Icon icon)
{
    switch (icon) {
        case ModalPrompts::Icon::Error: return QStyle::SP_MessageBoxCritical;
        case ModalPrompts::Icon::Question: return QStyle::SP_MessageBoxQuestion;
        case ModalPrompts::Icon::Notice: break;
    }
    return QStyle::SP_MessageBoxInformation;
}

}  // namespace

PromptDialog::PromptDialog(const ModalPrompts::Prompt& prompt, QWidget* owner) : QDialog(owner)
{
    setWindowTitle(prompt.caption);
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("promptIcon"));
    const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(standardIcon(prompt.icon), nullptr, this).pixmap(side));

    auto* message = new QLabel(prompt.message, this);
    message->setObjectName(QStringLiteral("promptMessage"));
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);

    m_check = new QCheckBox(prompt.checkLabel, this);
    m_check->setObjectName(QStringLiteral("promptCheck"));
    m_check->setVisible(prompt.offerCheck);
    m_offerCheck = prompt.offerCheck;

    auto* first = new QPushButton(prompt.firstButton, this);
    auto* second = new QPushButton(prompt.secondButton, this);
    first->setDefault(true);
    connect(first, &QPushButton::clicked, this, [this] { done(1); });
    connect(second, &QPushButton::clicked, this, [this] { done(2); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(first);
    buttons->addWidget(second);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(message, 0, 1);
    layout->addWidget(m_check, 1, 1);
    layout->addLayout(buttons, 2, 0, 1, 2);
    layout->setColumnStretch(1, 1);
    resize(dialogUnits(font(), 190, 81).expandedTo(sizeHint()));
}

ModalPrompts::PromptAnswer PromptDialog::ask()
{
    const int result = exec();
    return {result == 1 ? 1 : 2, m_offerCheck && m_check->isChecked()};
}

}  // namespace tessaly
