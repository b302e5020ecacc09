#include "engine_fixture.h"

#include "device/engine_state.h"
#include "device/mailbox.h"

// Mailbox I/O on one opened calculator disk of the test host.
class TestMailbox : public QObject {
    Q_OBJECT

    struct OpenDisk {
        HostScope scope;
        int disk;
        FileHandle handle;
        OpenDisk() : disk(scope.host().AddCalculator("1"))
        {
            handle = scope.host().OpenDisk(W(TestHost::CalculatorPath("1")).c_str());
        }
        ~OpenDisk() { scope.host().Close(handle); }
    };

private slots:
    void shouldLayOutTheProgressCommand()
    {
        const MailboxSector sector = MakeCommand(kCmdProgress, 50);
        const unsigned char expected[20] = {0xAA, 0x55, 0x55, 0xAA, 0x4B, 0x4C, 0x56,
                                            0x44, 0x00, 0x02, 0x00, 0x00, 0xDC, 0xBE,
                                            0x00, 0x00, 0x32, 0x00, 0x00, 0x00};
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(sector.bytes), 20),
                 QByteArray(reinterpret_cast<const char*>(expected), 20));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(sector.bytes) + 20, 492),
                 QByteArray(492, '\0'));
        QCOMPARE(SectorWord(sector, 12), kCmdProgress);
    }

    void shouldRetryARefusedProgressCommandSixTimes_data()
    {
        QTest::addColumn<int>("refusals");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("commands");
        QTest::newRow("accepted at once") << 0 << true << 1;
        QTest::newRow("accepted at the sixth") << 5 << true << 6;
        QTest::newRow("refused six times") << 6 << false << 6;
        QTest::newRow("refused for good") << -1 << false << 6;
    }
    void shouldRetryARefusedProgressCommandSixTimes()
    {
        QFETCH(int, refusals);
        QFETCH(bool, accepted);
        QFETCH(int, commands);
        OpenDisk d;
        d.scope.host().EditDisk(d.disk,
                                [&](TestHost::Disk& disk) { disk.refuseProgress = refusals; });
        QCOMPARE(SendProgress(d.handle, 42), accepted);
        QCOMPARE(ProgressOf(d.scope.host(), d.disk), std::vector<std::uint32_t>(commands, 42));
        QCOMPARE(d.scope.host().SleptMs(), 0); // no pause between attempts
    }

    void shouldKeepThePositionAcrossCommands()
    {
        OpenDisk d;
        QCOMPARE(SeekDisk(d.handle, 0x500000, SeekFrom::Start), 0x500000);
        QVERIFY(SendCommand(d.handle, kCmdProgress, 3)); // a finish would end update mode
        QCOMPARE(SeekDisk(d.handle, 0, SeekFrom::Current), 0x500000);
        std::uint32_t status = 0, value = 1;
        QVERIFY(TransactCommand(d.handle, kCmdProgress, 7, &status, &value));
        QCOMPARE(status, kReplyFlag | kCmdProgress);
        QCOMPARE(value, 0u);
        QCOMPARE(SeekDisk(d.handle, 0, SeekFrom::Current), 0x500000);
    }

    void shouldLeaveTheAreaReadAtItsEnd_data()
    {
        QTest::addColumn<bool>("longForm");
        QTest::addColumn<int>("length");
        QTest::newRow("short") << false << 15360;
        QTest::newRow("long") << true << 15872;
    }
    void shouldLeaveTheAreaReadAtItsEnd()
    {
        QFETCH(bool, longForm);
        QFETCH(int, length);
        OpenDisk d;
        QCOMPARE(ReadMailboxArea(d.handle, longForm), 1);
        QCOMPARE(SeekDisk(d.handle, 0, SeekFrom::Current), kMailboxOffset + length);
        const auto events = d.scope.host().EventsOf(d.disk);
        QCOMPARE(CountOps(events, TestHost::Op::Read), 1);
        QCOMPARE(events[events.size() - 2].length, length);
        QVERIFY(d.scope.host().TouchedPages(d.disk).empty());
    }

    // The command is written at the mailbox offset itself: no seek, failed or not, can put it
    // anywhere else, and the disk's position is not touched.
    void shouldWriteACommandOnlyAtTheMailboxWhateverTheSeeks()
    {
        OpenDisk d;
        QCOMPARE(SeekDisk(d.handle, 4096, SeekFrom::Start), std::int64_t(4096));
        d.scope.host().EditDisk(d.disk, [](TestHost::Disk& disk) { disk.seekFault = {0, -1}; });
        QVERIFY(SendCommand(d.handle, kCmdFinish, 0));
        const auto events = d.scope.host().EventsOf(d.disk);
        QCOMPARE(CountOps(events, TestHost::Op::Command), 1);
        QCOMPARE(CountOps(events, TestHost::Op::Write), 0);
        QCOMPARE(CountOps(events, TestHost::Op::Seek), 1); // the test's own
        QCOMPARE(events.back().offset, kMailboxOffset);
    }

    void shouldFailAnExchangeWhoseReplyCannotBeRead()
    {
        OpenDisk d;
        d.scope.host().EditDisk(d.disk, [](TestHost::Disk& disk) { disk.readFault = {0, -1}; });
        QVERIFY(!SendProgress(d.handle, 10));
        QCOMPARE(ProgressOf(d.scope.host(), d.disk).size(), std::size_t(6));
    }

    void shouldFinishEveryCalculatorThatOpens()
    {
        HostScope scope;
        TestHost& host = scope.host();
        const int first = host.AddCalculator("1");
        const int closed = host.AddCalculator("2");
        const int third = host.AddCalculator("3");
        host.AddDisk(TestHost::UsbDiskPath("other", "stick", "9"));
        host.EditDisk(closed, [](TestHost::Disk& d) { d.openFault = {0, -1}; });

        QCOMPARE(FinishCalculators(kVendor, kProduct), kResultOk);
        QCOMPARE(g_diskCount, 3);
        for (int disk : {first, third}) {
            std::vector<TestHost::Op> ops;
            for (const auto& e : host.EventsOf(disk)) {
                if (e.op == TestHost::Op::Read || e.op == TestHost::Op::Command)
                    ops.push_back(e.op);
            }
            QVERIFY(ops == std::vector<TestHost::Op>({TestHost::Op::Read, TestHost::Op::Command}));
            QCOMPARE(CommandsOf(host, disk),
                     (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{kCmdFinish, 0}}));
        }
        QVERIFY(CommandsOf(host, closed).empty());
        QVERIFY(host.EventsOf(3).empty());
        QCOMPARE(host.OpenHandles(), 0);
    }

    void shouldReportNoDeviceWhenThereIsNothingToFinish()
    {
        HostScope scope;
        scope.host().AddDisk(TestHost::SataDiskPath("kz", "zenta_update"));
        QCOMPARE(FinishCalculators(kVendor, kProduct), kResultNoDevice);
        QCOMPARE(CountOps(scope.host().Events(), TestHost::Op::Enumerate), 6);
        QCOMPARE(scope.host().SleptMs(), 3000);
        QCOMPARE(CountOps(scope.host().Events(), TestHost::Op::Open), 0);
    }
};

QTEST_GUILESS_MAIN(TestMailbox)
#include "tst_mailbox.moc"
