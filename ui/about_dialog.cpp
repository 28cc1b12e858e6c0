#include "ui/about_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace tessaly {

AboutDialog::AboutDialog(const Content& content, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(content.caption);
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setPixmap(QIcon(content.iconPath).pixmap(32, 32));

    auto* product = new QLabel(content.product, this);
    product->setObjectName(QStringLiteral("productName"));
    QPalette green = product->palette();
    green.setColor(QPalette::WindowText, QColor::fromRgb(kProductColor));
    product->setPalette(green);
    QFont bold = product->font();
    bold.setBold(true);
    product->setFont(bold);

    auto* maker = new QLabel(QStringLiteral("Made by Brindlework"), this);
    maker->setObjectName(QStringLiteral("maker"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    if (!content.webPage.isEmpty()) {
        QPushButton* web = buttons->addButton(QStringLiteral("Web"), QDialogButtonBox::ActionRole);
        web->setObjectName(QStringLiteral("webButton"));
        connect(web, &QPushButton::clicked, this,
                [this, page = content.webPage] { emit webRequested(page); });
    }

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(product, 0, 1);
    layout->addWidget(maker, 1, 1);
    layout->addWidget(buttons, 2, 0, 1, 2);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace tessaly
