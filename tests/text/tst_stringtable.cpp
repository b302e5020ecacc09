#include "text/string_table.h"

#include <QtTest>

using Bytes = QVector<uint8_t>;

Q_DECLARE_METATYPE(Bytes)

namespace {

// The strings of a decoded table; the table's units must end with its last terminator.
QStringList stringsOf(const StringTable& table)
{
    QStringList strings;
    for (const char16_t* text : table.strings)
        strings << QString(reinterpret_cast<const QChar*>(text),
                           int(std::char_traits<char16_t>::length(text)));
    return strings;
}

// Kind 3 at the root: bit 0 gives 'A', bit 1 the terminator.
const Bytes kTreeAZero = {3, 'A', 0, 0, 0};
// Kinds 1, 2 and 3: terminator "1", 'A' "00", CR "010", LF "011".
const Bytes kTreeWithLineBreak = {1, 0, 0, 2, 'A', 0, 3, 13, 0, 10, 0};

} // namespace

class TestStringTable : public QObject {
    Q_OBJECT

private slots:
    void shouldDecodeCodedTables_data()
    {
        QTest::addColumn<Bytes>("tree");
        QTest::addColumn<Bytes>("data");
        QTest::addColumn<QStringList>("strings");
        QTest::addColumn<int>("result");
        QTest::newRow("one node, two leaves")
            << kTreeAZero << Bytes{0x02, 0x00} << QStringList{"A"} << kDecodeOk;
        QTest::newRow("terminator on the last bit, skipped byte of ones")
            << kTreeAZero << Bytes{0x80, 0xFF, 0x02, 0x00} << QStringList{"AAAAAAA", "A"}
            << kDecodeOk;
        QTest::newRow("carriage return dropped")
            << kTreeWithLineBreak << Bytes{0xC8, 0x04, 0x00} << QStringList{"A\nA"} << kDecodeOk;
        QTest::newRow("distance node") << Bytes{0, 5, 0, 3, 'A', 0, 'B', 0, 3, 0, 0, 'C', 0}
                                       << Bytes{0x63, 0x00} << QStringList{"CAB"} << kDecodeOk;
        QTest::newRow("leaf on bit 0") << Bytes{2, 'A', 0, 3, 0, 0, 'B', 0} << Bytes{0x0E, 0x00}
                                       << QStringList{"AB"} << kDecodeOk;
        QTest::newRow("one leaf for both bits")
            << Bytes{4, 0, 0} << Bytes{0x00, 0x00, 0x00} << QStringList{"", ""} << kDecodeOk;
        QTest::newRow("cut short")
            << kTreeAZero << Bytes{0x02, 0x00, 0x00} << QStringList{"A"} << kDecodeCutShort;
        QTest::newRow("no bytes") << kTreeAZero << Bytes{} << QStringList{} << kDecodeOk;
        QTest::newRow("distance past the tree") << Bytes{0, 0xFF, 0xFF, 3, 'A', 0, 0, 0}
                                                << Bytes{0x01} << QStringList{} << kDecodeDamaged;
        QTest::newRow("node cut by the tree's end")
            << Bytes{3, 'A', 0} << Bytes{0x00} << QStringList{} << kDecodeDamaged;
        QTest::newRow("following node past the end")
            << Bytes{1, 0, 0} << Bytes{0x00} << QStringList{} << kDecodeDamaged;
        QTest::newRow("empty tree") << Bytes{} << Bytes{0x00} << QStringList{} << kDecodeDamaged;
    }
    void shouldDecodeCodedTables()
    {
        QFETCH(Bytes, tree);
        QFETCH(Bytes, data);
        QFETCH(QStringList, strings);
        QFETCH(int, result);
        const std::vector<uint8_t> treeBytes(tree.begin(), tree.end());
        StringTable table;
        QCOMPARE(decodeStringTable(data.data(), data.size(), &treeBytes, 0, &table), result);
        QCOMPARE(stringsOf(table), strings);
        QCOMPARE(table.units.empty(), strings.isEmpty()); // no strings, no buffer
    }

    void shouldGrowPastTheFirstBuffer()
    {
        // 3000 'A' are 3000 zero bits (375 bytes), then the terminator bit and a skipped byte.
        std::vector<uint8_t> data(375, 0);
        data.push_back(0x01);
        data.push_back(0x00);
        data.insert(data.end(), {0x02, 0x00});
        const std::vector<uint8_t> tree(kTreeAZero.begin(), kTreeAZero.end());
        StringTable table;
        QCOMPARE(decodeStringTable(data.data(), int32_t(data.size()), &tree, 0, &table), kDecodeOk);
        QCOMPARE(stringsOf(table), (QStringList{QString(3000, 'A'), "A"}));
    }

    void shouldSplitPlainTables_data()
    {
        QTest::addColumn<QString>("units");
        QTest::addColumn<int>("lastIndex");
        QTest::addColumn<QStringList>("strings");
        const QString ab = QString("A") + QChar(0) + "B" + QChar(0);
        QTest::newRow("as many as listed") << ab << 1 << QStringList{"A", "B"};
        QTest::newRow("cut at lastIndex 0") << ab << 0 << QStringList{"A"};
        QTest::newRow("fewer than listed") << ab << 5 << QStringList{"A", "B", ""};
        QTest::newRow("last string unterminated") << "AB" << 3 << QStringList{"AB"};
        QTest::newRow("no bytes") << "" << 4 << QStringList{""};
        QTest::newRow("carriage return kept") << "A\r\nB" << 0 << QStringList{"A\r\nB"};
    }
    void shouldSplitPlainTables()
    {
        QFETCH(QString, units);
        QFETCH(int, lastIndex);
        QFETCH(QStringList, strings);
        const auto* bytes = reinterpret_cast<const uint8_t*>(units.utf16());
        StringTable table;
        QCOMPARE(decodeStringTable(bytes, units.size() * 2, nullptr, lastIndex, &table), kDecodeOk);
        QCOMPARE(stringsOf(table), strings);
    }

    void shouldDropAnOddLastByte()
    {
        const uint8_t bytes[7] = {'A', 0, 0, 0, 'B', 0, 'C'};
        StringTable table;
        decodeStringTable(bytes, 7, nullptr, 5, &table);
        QCOMPARE(stringsOf(table), (QStringList{"A", "B"}));
    }
};

QTEST_GUILESS_MAIN(TestStringTable)
#include "tst_stringtable.moc"
