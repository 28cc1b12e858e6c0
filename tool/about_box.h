#pragma once

#include <QDialog>

namespace tessaly {

// The tool's About box: its icon, the product name and version in green, and the
// maker. caption is the language's text for the About command.
class AboutBox : public QDialog
{
    Q_OBJECT
public:
    explicit AboutBox(const QString& caption, QWidget* parent = nullptr);

    static constexpr QRgb kProductColor = 0xFF329632;  // RGB (50, 150, 50)
};

}  // namespace tessaly
