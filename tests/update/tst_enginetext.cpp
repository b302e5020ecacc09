// The engine's text as QString and back: every unit kept, a leading U+FEFF or U+FFFE too.
#include "update/engine_text.h"
#include "update/update_history.h"

#include <QtTest>

#include <algorithm>

class TestEngineText : public QObject {
    Q_OBJECT
private slots:
    void shouldKeepEveryUnit_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << QString("zt0002");
        QTest::newRow("empty") << QString();
        // Serials and paths come from the disk: nothing says they cannot begin so.
        QTest::newRow("leading U+FEFF") << QString(QChar(0xFEFF)) + "zt0002";
        QTest::newRow("leading U+FFFE") << QString(QChar(0xFFFE)) + "zt0002";
        QTest::newRow("surrogate pair") << QString::fromUtf8("\xF0\x9F\x98\x80zt");
    }
    void shouldKeepEveryUnit()
    {
        QFETCH(QString, text);
        const String16 units = toString16(text);
        QCOMPARE(int(units.size()), text.size());
        QCOMPARE(toQString(units.c_str()), text);
        // The history names a calculator as the engine found it.
        DiskResult disk = {};
        std::copy(units.begin(), units.end(), disk.serial);
        std::copy(units.begin(), units.end(), disk.devicePath);
        HistoryRecord record;
        const HistoryCalculator& calculator = historyCalculator(&record, disk);
        QCOMPARE(calculator.serial, text);
        QCOMPARE(calculator.path, text);
    }

    // The engine's callbacks may pass no text at all.
    void shouldTakeNoTextForEmpty() { QVERIFY(toQString(nullptr).isEmpty()); }
};

QTEST_GUILESS_MAIN(TestEngineText)
#include "tst_enginetext.moc"
