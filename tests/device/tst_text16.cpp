#include "engine_fixture.h"

#include "device/text16.h"

class TestText16 : public QObject {
    Q_OBJECT

private slots:
    void shouldNeverCutACopy()
    {
        WChar slot[4] = {'x', 'x', 'x', 'x'};
        QVERIFY(!Copy16(slot, 4, W("abcd").c_str()));
        QCOMPARE(slot[0], WChar('x'));
        QVERIFY(Copy16(slot, 4, W("abc").c_str()));
        QCOMPARE(slot[3], WChar(0));
    }

    void shouldFindExactSubstrings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("needle");
        QTest::addColumn<int>("at");
        QTest::newRow("prefix") << "\\\\?\\usbstor#disk&ven_kz"
                                << "\\\\?\\usbstor" << 0;
        QTest::newRow("inside") << "aabab"
                                << "bab" << 2;
        QTest::newRow("case matters") << "ABC"
                                      << "abc" << -1;
        QTest::newRow("longer than text") << "ab"
                                          << "abc" << -1;
        QTest::newRow("empty needle") << "ab"
                                      << "" << 0;
    }
    void shouldFindExactSubstrings()
    {
        QFETCH(QString, text);
        QFETCH(QString, needle);
        QFETCH(int, at);
        const String16 t = W(text.toStdString());
        const WChar* found = Find16(t.c_str(), W(needle.toStdString()).c_str());
        QCOMPARE(found == nullptr ? -1 : int(found - t.c_str()), at);
    }

    void shouldConvertBothWays_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii") << "/home/user/Firmware/ZENTA_OS.ROM";
        QTest::newRow("accents") << QString::fromUtf8("/home/zoë/Mises à jour");
        QTest::newRow("cjk") << QString::fromUtf8("/home/用户/固件");
        QTest::newRow("outside the BMP") << QString::fromUtf8("/tmp/\xF0\x9F\x93\x81");
    }
    void shouldConvertBothWays()
    {
        QFETCH(QString, text);
        const String16 wide(reinterpret_cast<const WChar*>(text.utf16()), text.size());
        std::string utf8;
        QVERIFY(Utf16ToUtf8(wide.c_str(), &utf8));
        QCOMPARE(QByteArray::fromStdString(utf8), text.toUtf8());
        QVERIFY(Utf8ToUtf16(utf8) == wide);
    }

    void shouldRefuseLoneSurrogates()
    {
        std::string utf8;
        const WChar lone[] = {'a', 0xD800, 'b', 0};
        QVERIFY(!Utf16ToUtf8(lone, &utf8));
        const WChar low[] = {0xDC00, 0};
        QVERIFY(!Utf16ToUtf8(low, &utf8));
    }
};

QTEST_GUILESS_MAIN(TestText16)
#include "tst_text16.moc"
