// A station's waves: which calculators each one writes and when it begins, and an update run
// that touches only the calculators of its wave.
#include "engine_fixture.h"

#include "device/mailbox.h"
#include "update/station.h"
#include "update/update_run.h"

#include <QtTest>

namespace {

DiskResult Calculator(const QString& serial)
{
    DiskResult disk{};
    Copy16(disk.devicePath, kDiskPathChars,
           W(TestHost::CalculatorPath(serial.toStdString())).c_str());
    Copy16(disk.serial, kDiskNameChars, W(serial.toStdString()).c_str());
    disk.size = -1;
    return disk;
}

QString Serials(const QVector<DiskResult>& disks)
{
    QStringList serials;
    for (const DiskResult& disk : disks)
        serials << QString::fromStdU16String(
            std::u16string(disk.serial, disk.serial + Length16(disk.serial)));
    return serials.join(' ');
}

// A wave's record as its update ended: every calculator with `outcome` "ok" (all files and the
// finish command), "failed" (the first file failed) or "refused" (nothing written).
HistoryRecord WaveRecord(const QVector<DiskResult>& wave, const QString& outcome)
{
    HistoryRecord record =
        beginHistoryRecord("test", "0", "/f", {{"A", 1, {}}, {"B", 1, {}}, {"C", 1, {}}});
    record.outcome = outcome;
    for (const DiskResult& disk : wave) {
        HistoryCalculator& row = historyCalculator(&record, disk);
        if (outcome == "refused")
            continue;
        row.results.fill(outcome == "ok" ? kResultOk : kResultWriteFailed);
        row.finish = kResultOk;
    }
    return record;
}

} // namespace

class TestStationWaves : public QObject {
    Q_OBJECT
private slots:
    // A script of steps, separated by ";":
    //   "MS: S1 S2"  the calculators present at MS milliseconds (a listing);
    //   "left N"     the wait before the next wave, as the tracker gives it then (-1: none coming);
    //   "wave S1 S2 = OUTCOME"  the next wave holds these, and ends with that outcome then.
    void shouldComposeEachWave_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("tally"); // updated failed waiting, at the end
        QTest::newRow("each arrival starts the countdown again")
            << "0: a; left 5000; 3000: a b; left 5000; 7999: a b; left 1; 8000: a b; left 0;"
               "wave a b = ok; 8000: ; left -1"
            << "2 0 0";
        QTest::newRow("nothing plugged in, no wave") << "0: ; left -1; 60000: ; left -1"
                                                     << "0 0 0";
        QTest::newRow("back within 10 s: not written again")
            << "0: a; 5000: a; wave a = ok; 5000: ; 14999: a; left -1"
            << "1 0 0";
        QTest::newRow("plugged in again later: written again")
            << "0: a; 5000: a; wave a = ok; 5000: ; 15000: a; left 5000; 20000: a; wave a = ok"
            << "2 0 0";
        QTest::newRow("still there after its wave: not written again")
            << "0: a; 5000: a; wave a = ok; 9000: a b; left 5000; 14000: a b; wave b = ok"
            << "2 0 0";
        QTest::newRow("a failed one still there waits to be plugged in again")
            << "0: a b; 5000: a b; wave a b = failed; 6000: a b; left -1"
            << "0 2 0";
        QTest::newRow("a refused wave waits for a new calculator")
            << "0: a; 5000: a; wave a = refused; 6000: a; left -1; 30000: a c; left 5000;"
               "35000: a c; wave a c = ok"
            << "2 0 0";
        QTest::newRow("one that left before its wave is not in it")
            << "0: a b; 4000: a; left 1000; 5000: a; wave a = ok"
            << "1 0 0";
        QTest::newRow("no room for the seventeenth: it goes next")
            << "0: c1 c2 c3 c4 c5 c6 c7 c8 c9 c10 c11 c12 c13 c14 c15 c16 c17;"
               "5000: c1 c2 c3 c4 c5 c6 c7 c8 c9 c10 c11 c12 c13 c14 c15 c16 c17;"
               "wave c1 c2 c3 c4 c5 c6 c7 c8 c9 c10 c11 c12 c13 c14 c15 c16 = ok; left 5000;"
               "10000: c17; wave c17 = ok"
            << "17 0 0";
    }
    void shouldComposeEachWave()
    {
        QFETCH(QString, script);
        QFETCH(QString, tally);
        StationTracker tracker;
        qint64 now = 0;
        for (const QString& raw : script.split(';')) {
            const QString step = raw.trimmed();
            if (step.startsWith("left")) {
                QCOMPARE(tracker.settleLeftMs(now), step.mid(5).toLongLong());
            } else if (step.startsWith("wave")) {
                const QStringList parts = step.mid(5).split('=');
                QVector<DiskResult> wave;
                tracker.beginWave(&wave);
                QCOMPARE(Serials(wave), parts[0].trimmed());
                tracker.endWave(WaveRecord(wave, parts[1].trimmed()), 3, now);
            } else {
                const int colon = step.indexOf(':');
                now = step.left(colon).toLongLong();
                QVector<DiskResult> present;
                for (const QString& serial : step.mid(colon + 1).split(' ', Qt::SkipEmptyParts))
                    present.append(Calculator(serial));
                tracker.observe(present, now);
            }
        }
        const StationTally counts = tracker.tally();
        QCOMPARE(QString("%1 %2 %3").arg(counts.updated).arg(counts.failed).arg(counts.waiting),
                 tally);
    }

    // The wave's run writes, retries and finishes its own calculators: not b2, present all
    // along but not shown in the wave, and a retry only where the file is missing.
    void shouldWriteOnlyTheWavesCalculators()
    {
        HostScope scope;
        TestHost& host = scope.host();
        const std::string source = "/updates/ZENTA_OS.ROM";
        const auto data = MakeData(40000);
        host.AddSourceFile(source, data);
        const int a1 = host.AddCalculator("a1");
        const int b2 = host.AddCalculator("b2");
        const int c3 = host.AddCalculator("c3");
        // c3's first transfer fails for good at its first chunk; its retry goes through.
        host.EditDisk(c3, [](TestHost::Disk& d) { d.dataWriteFault = {0, 7}; });

        UpdateRun run(UpdateRunOptions{"test", true, false},
                      {{QString::fromStdString(source), "ZENTA_OS.ROM", 0x100000, -1}}, "/updates");
        run.restrictTo({Calculator("a1"), Calculator("c3")});
        QCOMPARE(run.check().result, int(kResultOk));
        QCOMPARE(run.attempt(0, RecordProgress, RecordMessage), int(kResultWriteFailed));
        QCOMPARE(run.stepAfter(0, 1, kResultWriteFailed), UpdateStep::Retry);
        QCOMPARE(run.attempt(0, RecordProgress, RecordMessage), int(kResultOk));
        QCOMPARE(run.finish(), int(kResultOk));

        for (int disk : {a1, c3}) {
            QVERIFY(DiskHoldsExactly(host, disk, 0x100000, data));
            QCOMPARE(CommandsOf(host, disk).back().first, kCmdFinish);
        }
        // One transfer to a1 (progress 0 once), two to c3.
        QCOMPARE(Join(ProgressOf(host, a1)).count(QRegularExpression("\\b100\\b")), 1);
        QCOMPARE(Join(ProgressOf(host, c3)).count(QRegularExpression("\\b100\\b")), 1);
        QCOMPARE(Join(ProgressOf(host, a1)).count(QRegularExpression("(^| )0\\b")), 1);
        QCOMPARE(Join(ProgressOf(host, c3)).count(QRegularExpression("(^| )0\\b")), 2);
        QVERIFY(host.EventsOf(b2).empty());
        QCOMPARE(run.record().calculators.size(), 2);
    }

    // An update is of the calculators its check found: one plugged in during it is never
    // written (it would get the later files only, and hold back the others' success).
    void shouldLeaveACalculatorPluggedInDuringAnUpdate()
    {
        HostScope scope;
        TestHost& host = scope.host();
        const auto os = MakeData(20000, 1);
        const auto app = MakeData(30000, 2);
        host.AddSourceFile("/u/ZENTA_APP.DAT", app);
        host.AddSourceFile("/u/ZENTA_OS.ROM", os);
        const int a1 = host.AddCalculator("a1");
        UpdateRun run(UpdateRunOptions{"test", true, false},
                      {{"/u/ZENTA_APP.DAT", "ZENTA_APP.DAT", 0x500000, -1},
                       {"/u/ZENTA_OS.ROM", "ZENTA_OS.ROM", 0, 0x100000}},
                      "/u");
        QCOMPARE(run.check().result, int(kResultOk));
        QCOMPARE(run.attempt(0, RecordProgress, RecordMessage), int(kResultOk));
        const int b2 = host.AddCalculator("b2");
        QCOMPARE(run.attempt(1, RecordProgress, RecordMessage), int(kResultOk));
        QCOMPARE(run.finish(), int(kResultOk));
        QVERIFY(host.DiskBytes(a1, 0, std::int64_t(os.size())) == os);
        QVERIFY(host.DiskBytes(a1, 0x500000, std::int64_t(app.size())) == app);
        QVERIFY(host.EventsOf(b2).empty());
        QCOMPARE(run.record().calculators.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestStationWaves)
#include "tst_stationwaves.moc"
