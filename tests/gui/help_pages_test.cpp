#include "ui/modal_prompts.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

using namespace tessaly;

// Every help context the programs open leads to a shipped page and to an anchor that
// exists on it, and every link between the pages arrives somewhere.
class HelpPagesTest : public QObject
{
    Q_OBJECT

private slots:
    void everyContextHasItsPage()
    {
        const QString data = qEnvironmentVariable("TESSALY_DATA_DIR");
        QVERIFY(!data.isEmpty());
        for (int context : {0, 3, 4, 6, 7, 8, 9, 10}) {
            const QUrl url = helpPage(data, context);
            QVERIFY2(QFileInfo::exists(url.toLocalFile()), qPrintable(url.toString()));
            if (url.hasFragment()) {
                QVERIFY2(page(url.toLocalFile()).contains(QStringLiteral("id=\"%1\"").arg(url.fragment())),
                         qPrintable(url.toString()));
            }
        }
        QCOMPARE(helpPage(data, 3).fileName(), QStringLiteral("velmora.html"));
        QCOMPARE(helpPage(data, 5), helpPage(data, 0));
    }

    void linksBetweenPagesArrive()
    {
        const QString help = qEnvironmentVariable("TESSALY_DATA_DIR") + QStringLiteral("/Help/");
        const QRegularExpression link(QStringLiteral("href=\"([a-z]+\\.(?:html|css))(?:#([a-z]+))?\""));
        for (const char* name : {"index.html", "copier.html", "settings.html", "velmora.html"}) {
            const QString text = page(help + QLatin1String(name));
            QVERIFY(!text.isEmpty());
            auto matches = link.globalMatch(text);
            while (matches.hasNext()) {
                const auto match = matches.next();
                const QString target = help + match.captured(1);
                QVERIFY2(QFileInfo::exists(target), qPrintable(name + (" -> " + match.captured(0))));
                if (!match.captured(2).isEmpty()) {
                    QVERIFY2(page(target).contains("id=\"" + match.captured(2) + "\""),
                             qPrintable(name + (" -> " + match.captured(0))));
                }
            }
        }
    }

private:
    static QString page(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
};

QTEST_MAIN(HelpPagesTest)
#include "help_pages_test.moc"
