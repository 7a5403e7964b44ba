#include "TestEnvironment.h"
#include "linux/LinuxSystemEvents.h"

#include <QSignalSpy>
#include <QtTest>

// Only the day check and the availability of the clock watch are tested: the real clock and
// zone of the machine are never touched.

namespace {

Date at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, const char* zone = "America/New_York")
{
    return TestEnvironment::at(y, mo, d, h, mi, s, zone);
}

class ManualBoot final : public MonotonicClock {
public:
    double seconds() const override { return value; }
    double value = 5000;
};

} // namespace

class TestSystemEvents : public QObject {
    Q_OBJECT
private slots:
    // The drift look never wakes the program where the kernel tells of clock settings, and every
    // five seconds where it cannot; either way a clock moved under the kernel is heard.
    void driftLookFollowsTheClockWatch_data()
    {
        QTest::addColumn<bool>("kernelAsked"); // whether the kernel's timer is tried at all
        QTest::addColumn<bool>("kernelTells");
        QTest::addColumn<int>("lookMs");
        QTest::newRow("the kernel's timer armed") << true << true << 0;
        QTest::newRow("no timer from the kernel") << false << false << 5000;
    }
    void driftLookFollowsTheClockWatch()
    {
        QFETCH(bool, kernelAsked);
        ManualClock clock(at(2026, 12, 7, 10));
        ManualBoot boot;
        using Watch = LinuxSystemEvents::ClockWatch;
        LinuxSystemEvents events(
            clock, [] { return TestEnvironment::calendar(); }, nullptr, nullptr,
            kernelAsked ? Watch::kernel : Watch::driftOnly);
        QTEST(events.watchesClock(), "kernelTells");
        events.watchDrift(boot);
        QTEST(events.driftLookMs(), "lookMs");

        QSignalSpy clockChanged(&events, &SystemEvents::clockChanged);
        clock.set(clock.now() + 600);
        events.checkDrift();
        QCOMPARE(clockChanged.count(), 1);
        if (!kernelAsked)
            return;
        // Beside the kernel, the program's next wake-up for anything else looks.
        clock.set(clock.now() + 600);
        boot.value += 61;
        QTimer::singleShot(0, [] {});
        QTRY_COMPARE(clockChanged.count(), 2);
    }

    void dayChangesOnceAtLocalMidnight()
    {
        ManualClock clock(at(2026, 12, 7, 23, 59));
        LinuxSystemEvents events(clock, [] { return TestEnvironment::calendar(); });
        QSignalSpy dayChanged(&events, &SystemEvents::dayChanged);

        events.checkDay();
        clock.set(at(2026, 12, 7, 23, 59, 59) + 0.9);
        events.checkDay();
        QCOMPARE(dayChanged.count(), 0);

        clock.set(at(2026, 12, 8));
        events.checkDay();
        QCOMPARE(dayChanged.count(), 1);
        events.checkDay();
        clock.set(at(2026, 12, 8, 23, 59, 59));
        events.checkDay();
        QCOMPARE(dayChanged.count(), 1);

        // Days skipped (a long sleep) still make one change.
        clock.set(at(2026, 12, 11, 8));
        events.checkDay();
        QCOMPARE(dayChanged.count(), 2);
    }

    void dayChangesWithTheZone()
    {
        // 21:00 in New York is already the next day in UTC.
        ManualClock clock(at(2026, 12, 8, 21));
        Calendar calendar = TestEnvironment::calendar();
        LinuxSystemEvents events(clock, [&calendar] { return calendar; });
        QSignalSpy dayChanged(&events, &SystemEvents::dayChanged);

        calendar = TestEnvironment::calendar("UTC");
        events.checkDay();
        QCOMPARE(dayChanged.count(), 1);
        events.checkDay();
        QCOMPARE(dayChanged.count(), 1);

        // A zone with the same date is no change; going back to the earlier date is one.
        calendar = TestEnvironment::calendar("Europe/Berlin");
        events.checkDay();
        QCOMPARE(dayChanged.count(), 1);
        calendar = TestEnvironment::calendar();
        events.checkDay();
        QCOMPARE(dayChanged.count(), 2);
    }

    void wallClockSetUnderTheKernel_data()
    {
        QTest::addColumn<double>("wallStep"); // seconds the wall clock moves
        QTest::addColumn<double>("bootStep"); // seconds the boot clock moves meanwhile
        QTest::addColumn<int>("clockChanges");
        QTest::addColumn<int>("dayChanges");
        QTest::newRow("time passing") << 5.0 << 5.0 << 0 << 0;
        QTest::newRow("a suspend over midnight") << 3 * 3600.0 << 3 * 3600.0 << 0 << 0; // the midnight timer's
        QTest::newRow("a second's jitter") << 6.0 << 5.0 << 0 << 0;
        QTest::newRow("set a day forward") << 86400.0 << 5.0 << 1 << 1;
        QTest::newRow("set back an hour") << -3600.0 << 5.0 << 1 << 0;
        QTest::newRow("set back a day") << -86400.0 << 5.0 << 1 << 1;
        QTest::newRow("set forward within the day") << 600.0 << 5.0 << 1 << 0;
    }
    void wallClockSetUnderTheKernel()
    {
        // Late evening: a step of a day either way crosses midnight.
        QFETCH(double, wallStep);
        QFETCH(double, bootStep);
        ManualClock clock(at(2026, 12, 7, 22, 30));
        ManualBoot boot;
        LinuxSystemEvents events(clock, [] { return TestEnvironment::calendar(); });
        events.watchDrift(boot, 60 * 60 * 1000);
        QSignalSpy clockChanged(&events, &SystemEvents::clockChanged);
        QSignalSpy dayChanged(&events, &SystemEvents::dayChanged);
        clock.set(clock.now() + wallStep);
        boot.value += bootStep;
        events.checkDrift();
        events.checkDrift(); // heard once
        QTEST(int(clockChanged.count()), "clockChanges");
        QTEST(int(dayChanged.count()), "dayChanges");
    }

    void midnightTimerChecksTheDay()
    {
        // The timer is armed for a tenth of a second before midnight on the manual clock, so
        // it fires almost at once; by then the clock has crossed midnight.
        ManualClock clock(at(2026, 12, 7) - 0.1);
        LinuxSystemEvents events(clock, [] { return TestEnvironment::calendar(); });
        QSignalSpy dayChanged(&events, &SystemEvents::dayChanged);
        clock.set(at(2026, 12, 7) + 0.05);
        QTRY_COMPARE_WITH_TIMEOUT(dayChanged.count(), 1, 3000);
    }
};

QTEST_GUILESS_MAIN(TestSystemEvents)
#include "tst_system_events.moc"
