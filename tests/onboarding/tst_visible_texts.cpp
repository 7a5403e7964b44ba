#include "VisibleTexts.h"
#include "onboarding/OnboardingIllustrations.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

// The check behind the screens' text sweep: it must see a name wherever a screen can show it,
// and must not mistake ordinary words for one.
class TestVisibleTexts : public QObject {
    Q_OBJECT
private slots:
    void names_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("flagged");
        QTest::newRow("the desktop's old name") << "open freely on this Mac, until" << true;
        QTest::newRow("a word that starts like it") << "Machine learning notes" << false;
        QTest::newRow("an eyebrow in capitals") << "MACOS WILL ASK ONCE" << true;
        QTest::newRow("the browser that is not here") << "Works in Safari." << true;
        QTest::newRow("the old place for programs") << "Move Quillharbour to Applications" << true;
        QTest::newRow("the bar with the icon") << "Also waiting in your menu bar" << true;
        QTest::newRow("a promise of updates") << "Gets updates" << true;
        QTest::newRow("a command glyph") << "Esc to cancel \u00b7 \u2318\u21a9 to add" << true;
        QTest::newRow("this desktop's keys") << "Esc to cancel \u00b7 Ctrl+Return to add" << false;
    }
    void names()
    {
        QFETCH(QString, text);
        QTEST(!VisibleTexts::offending(QStringList{text}).isEmpty(), "flagged");
    }

    // One name, in one place of a small screen at a time.
    void everyPlaceIsRead_data()
    {
        QTest::addColumn<QString>("place");
        for (const char* place : {"", "label", "button", "tooltip", "accessible name", "window title", "placeholder",
                                  "menu entry", "cached drawing", "drawing wrapped over two lines"})
            QTest::newRow(*place ? place : "nowhere") << QString::fromLatin1(place);
    }
    void everyPlaceIsRead()
    {
        QFETCH(QString, place);
        const QString name = QStringLiteral("System Settings");
        const auto at = [&](const char* here, const QString& otherwise) {
            return place == QLatin1String(here) ? name : otherwise;
        };
        QWidget screen;
        screen.setWindowTitle(at("window title", QStringLiteral("Settings")));
        auto* layout = new QVBoxLayout(&screen);
        layout->addWidget(new QLabel(at("label", QStringLiteral("Browsers"))));
        auto* button = new QPushButton(at("button", QStringLiteral("Connect")));
        button->setToolTip(at("tooltip", QStringLiteral("Your browser will ask.")));
        button->setAccessibleName(at("accessible name", QStringLiteral("Connect Chrome")));
        auto* menu = new QMenu(button);
        menu->addAction(at("menu entry", QStringLiteral("Remove")));
        button->setMenu(menu);
        layout->addWidget(button);
        auto* field = new QLineEdit;
        field->setPlaceholderText(at("placeholder", QStringLiteral("Add a site")));
        layout->addWidget(field);
        const QString drawn = at("cached drawing", QStringLiteral("Turn it on"));
        const bool wrapped = place == QLatin1String("drawing wrapped over two lines");
        layout->addWidget(new PaintedView(QSize(200, 60), [drawn, wrapped](QPainter& p, const QSizeF&) {
            p.drawText(QPointF(4, 20), wrapped ? QStringLiteral("Open System") : drawn);
            p.drawText(QPointF(4, 40), wrapped ? QStringLiteral("Settings") : QStringLiteral("in Chrome"));
        }));
        screen.setAttribute(Qt::WA_DontShowOnScreen);
        screen.show();
        QCoreApplication::processEvents();

        const QStringList found = VisibleTexts::offending(&screen);
        QCOMPARE(found.isEmpty(), place.isEmpty());
        if (!place.isEmpty())
            QVERIFY2(found.join(QLatin1Char('|')).contains(name), qPrintable(found.join(QLatin1Char('|'))));
    }
};

QTEST_MAIN(TestVisibleTexts)
#include "tst_visible_texts.moc"
