#include "engine_fixture.h"

#include "device/discovery.h"
#include "device/engine_state.h"
#include "device/text16.h"

class TestDiscovery : public QObject {
    Q_OBJECT

private:
    static std::string Slot(int i)
    {
        std::string out;
        Utf16ToUtf8(g_diskPaths[i], &out);
        return out;
    }

private slots:
    void shouldMakeIdTokens_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("token");
        QTest::newRow("vendor") << "KZ"
                                << "kz";
        QTest::newRow("product") << "Zenta update"
                                 << "zenta_update";
        QTest::newRow("already lower") << "abc09"
                                       << "abc09";
        QTest::newRow("at sign and underscore move up") << "@_["
                                                        << "`\x7f{";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("31 units fit") << QString(31, 'A') << QString(31, 'a');
    }
    void shouldMakeIdTokens()
    {
        QFETCH(QString, id);
        QFETCH(QString, token);
        const String16 in = W(id.toStdString());
        WChar out[kIdTokenChars];
        QCOMPARE(MakeIdToken(out, kIdTokenChars, in.c_str()), token.size());
        std::string utf8;
        Utf16ToUtf8(out, &utf8);
        QCOMPARE(QString::fromStdString(utf8), token);
    }

    void shouldRefuseAnIdTooLongForItsToken()
    {
        WChar out[kIdTokenChars];
        QCOMPARE(MakeIdToken(out, kIdTokenChars, W(std::string(32, 'A')).c_str()), -1);

        // A cut token would match every disk whose vendor merely begins the same way.
        HostScope scope;
        scope.host().AddDisk(
            TestHost::UsbDiskPath(std::string(31, 'a') + "b", "zenta_update", "1"));
        const String16 longVendor = W(std::string(31, 'A') + "BC");
        QCOMPARE(FindCalculatorDisks(g_diskPaths, longVendor.c_str(), kProduct, kMaxDisks), 0);
    }

    void shouldFindOnlyCalculatorDisksInEnumerationOrder()
    {
        HostScope scope;
        TestHost& host = scope.host();
        host.AddDisk(TestHost::SataDiskPath("kz", "zenta_update"));
        host.AddCalculator("b2");
        host.AddDisk(TestHost::UsbDiskPath("sandisk", "cruzer", "1"));
        host.AddDisk(TestHost::UsbDiskPath("KZ", "ZENTA_UPDATE", "2"));  // upper case never matches
        host.AddDisk(TestHost::UsbDiskPath("kz", "zenta_updater", "3")); // nor a longer model
        host.AddCalculator("a1");
        host.AddDisk(TestHost::UsbDiskPath("kzx", "zenta_update", "4"));

        QCOMPARE(FindCalculatorDisks(g_diskPaths, kVendor, kProduct, kMaxDisks), 2);
        QCOMPARE(Slot(0), TestHost::CalculatorPath("b2"));
        QCOMPARE(Slot(1), TestHost::CalculatorPath("a1"));
    }

    void shouldMatchTheProductTokenWhole_data()
    {
        const std::string prefix = TestHost::CalculatorPath("1").substr(0, 41);
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("matches");
        QTest::newRow("revision follows")
            << QString::fromStdString(prefix + "&rev_1.00#1&0#{x}") << true;
        QTest::newRow("instance follows") << QString::fromStdString(prefix + "#1&0#{x}") << true;
        QTest::newRow("path ends") << QString::fromStdString(prefix) << true;
        QTest::newRow("longer product")
            << QString::fromStdString(prefix + "r_v9&rev_1.00#1&0#{x}") << false;
        QTest::newRow("product with a digit")
            << QString::fromStdString(prefix + "2&rev_1.00#1&0#{x}") << false;
        QTest::newRow("product with a dot")
            << QString::fromStdString(prefix + ".&rev_1#1") << false;
        QTest::newRow("longer first, whole later")
            << QString::fromStdString(prefix + "x#" + prefix + "&rev_1") << true;
    }
    void shouldMatchTheProductTokenWhole()
    {
        QFETCH(QString, path);
        QFETCH(bool, matches);
        HostScope scope;
        scope.host().AddDisk(path.toStdString());
        QCOMPARE(FindCalculatorDisks(g_diskPaths, kVendor, kProduct, kMaxDisks), matches ? 1 : 0);
    }

    void shouldTakeTheFirstSixteenOfSeventeen()
    {
        HostScope scope;
        for (int i = 0; i < 17; ++i)
            scope.host().AddCalculator("s" + std::to_string(i));
        QCOMPARE(FindCalculatorDisks(g_diskPaths, kVendor, kProduct, kMaxDisks), 16);
        QCOMPARE(Slot(15), TestHost::CalculatorPath("s15"));
        QCOMPARE(FindCalculatorDisks(g_diskPaths, kVendor, kProduct, 2), 2);
    }

    void shouldPassOverMembersThatCannotBeRead()
    {
        HostScope scope;
        TestHost& host = scope.host();
        host.AddCalculator("first");
        host.AddDisk(TestHost::CalculatorPath(std::string(260, 'x'))); // would not fit a slot
        host.AddCalculator("third");
        host.AddCalculator("fourth");
        host.skipMembers = {2};
        QCOMPARE(FindCalculatorDisks(g_diskPaths, kVendor, kProduct, kMaxDisks), 2);
        QCOMPARE(Slot(0), TestHost::CalculatorPath("first"));
        QCOMPARE(Slot(1), TestHost::CalculatorPath("fourth"));

        host.enumerateFault = {1, 1}; // the enumeration after the one above
        QCOMPARE(FindCalculatorDisks(g_diskPaths, kVendor, kProduct, kMaxDisks), 0);
    }

    void shouldAnswerPresenceWithoutTouchingTheCount()
    {
        HostScope scope;
        g_diskCount = 3;
        QVERIFY(!IsCalculatorConnected(kVendor, kProduct));
        QCOMPARE(CountOps(scope.host().Events(), TestHost::Op::Enumerate), 1);
        QCOMPARE(scope.host().SleptMs(), 0);
        scope.host().AddCalculator("1");
        QVERIFY(IsCalculatorConnected(kVendor, kProduct));
        QCOMPARE(g_diskCount, 3);
        QCOMPARE(Slot(0), TestHost::CalculatorPath("1"));
        g_diskCount = 0;
    }

    void shouldSearchSixTimesWithPausesWhenNothingIsThere()
    {
        HostScope scope;
        QCOMPARE(FindCalculatorDisksWithRetry(g_diskPaths, kVendor, kProduct, kMaxDisks), 0);
        std::vector<TestHost::Op> ops;
        for (const auto& e : scope.host().Events()) {
            ops.push_back(e.op);
            if (e.op == TestHost::Op::Sleep)
                QCOMPARE(e.length, 500);
        }
        std::vector<TestHost::Op> expected;
        for (int i = 0; i < 6; ++i) {
            expected.push_back(TestHost::Op::Enumerate);
            expected.push_back(TestHost::Op::Sleep);
        }
        QVERIFY(ops == expected);
    }

    void shouldStopSearchingOnceACalculatorAppears()
    {
        HostScope scope;
        TestHost& host = scope.host();
        const int disk = host.AddCalculator("late");
        host.EditDisk(disk, [](TestHost::Disk& d) { d.present = false; });
        int pauses = 0;
        host.onSleep = [&](int) {
            if (++pauses == 2)
                host.EditDisk(disk, [](TestHost::Disk& d) { d.present = true; });
        };
        QCOMPARE(FindCalculatorDisksWithRetry(g_diskPaths, kVendor, kProduct, kMaxDisks), 1);
        QCOMPARE(CountOps(host.Events(), TestHost::Op::Enumerate), 3);
        QCOMPARE(host.SleptMs(), 1000);
    }

    void shouldOpenAndCloseEveryTableDisk()
    {
        HostScope scope;
        TestHost& host = scope.host();
        host.AddCalculator("1");
        const int refusing = host.AddCalculator("2");
        host.EditDisk(refusing, [](TestHost::Disk& d) { d.openFault = {0, -1}; });
        g_diskCount = FindCalculatorDisks(g_diskPaths, kVendor, kProduct, kMaxDisks);
        QCOMPARE(OpenCalculatorDisks(), 1);
        QVERIFY(g_diskHandles[0] != kInvalidHandle);
        QCOMPARE(g_diskHandles[1], kInvalidHandle);
        CloseCalculatorDisks();
        QCOMPARE(host.OpenHandles(), 0);
        QCOMPARE(CountOps(host.EventsOf(-2), TestHost::Op::Close), 0);
        g_diskCount = 0;
    }
};

QTEST_GUILESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
