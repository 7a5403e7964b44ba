// The install step in each of its states, with long messages and on small screens: no text cut,
// nothing over anything. (The screenshot checks look at every other screen.)
#include "LayoutFit.h"
#include "OnboardingRig.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QTest>

using Step = OnboardingFlow::Step;

class TestOnboardingFit : public QObject {
    Q_OBJECT
private slots:
    void installStep_data();
    void installStep();
};

void TestOnboardingFit::installStep_data()
{
    QTest::addColumn<QString>("failure"); // empty: none; "press": a real failed attempt; else the message shown
    QTest::addColumn<QSize>("sheet");
    const QString path = QStringLiteral("/home/someone-with-a-long-name/.local/share/some-very-deep-folder/bin");
    QTest::newRow("first display") << QString() << QSize(880, 600);
    QTest::newRow("failed attempt") << QStringLiteral("press") << QSize(880, 600);
    QTest::newRow("failure naming a long path") << QStringLiteral("Couldn't write %1.").arg(path) << QSize(880, 600);
    QTest::newRow("failure of many words") << QStringLiteral("Couldn't install it. ").repeated(14) << QSize(880, 600);
    QTest::newRow("first display, low screen") << QString() << QSize(880, 460);
    QTest::newRow("failed attempt, small screen") << QStringLiteral("press") << QSize(760, 480);
    QTest::newRow("long path, small screen") << path << QSize(700, 420);
}

void TestOnboardingFit::installStep()
{
    QFETCH(QString, failure);
    QFETCH(QSize, sheet);
    OnboardingRig rig;
    OnboardingView& view = rig.open(0, true);
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.show();
    view.setFixedSize(sheet);
    view.setMoveHandler([](QString* error) {
        *error = QStringLiteral("Permission denied");
        return false;
    });
    if (failure == QStringLiteral("press")) {
        QTest::keyClick(&view, Qt::Key_Return);
    } else if (!failure.isEmpty()) {
        view.go(Step::welcome); // the step shows the message the flow holds when it is built
        view.flow().moveError = failure;
        view.back();
    }
    // A page built while the sheet shows comes on screen with the next turn of the event loop.
    QTRY_VERIFY(view.primaryButton()->isVisibleTo(&view));
    QStringList cuts;
    QTRY_VERIFY2_WITH_TIMEOUT((cuts = LayoutFit::cut(&view)).isEmpty(), qPrintable(cuts.join(u'\n')), 5000);
}

// In the program's own fonts: what fits in another face says nothing.
int main(int argc, char** argv)
{
    Theme::prepareApplication();
    QApplication app(argc, argv);
    Theme::apply(app);
    TestOnboardingFit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_onboarding_fit.moc"
