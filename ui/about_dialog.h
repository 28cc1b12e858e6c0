#pragma once

#include <QDialog>
#include <QUrl>

namespace tessaly {

// The About box of both programs: the program's icon, the product line in bold green,
// the maker, OK and, when a web page is given, a "Web" button that asks for it.
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    struct Content
    {
        QString caption;   // the language's text for the About command
        QString product;   // name and version
        QString iconPath;  // the program's icon, a Qt resource
        QUrl webPage;      // none: no Web button
    };

    explicit AboutDialog(const Content& content, QWidget* parent = nullptr);

    static constexpr QRgb kProductColor = 0xFF329632;  // RGB (50, 150, 50)

signals:
    // The Web button: the owner opens the page.
    void webRequested(const QUrl& page);
};

}  // namespace tessaly
