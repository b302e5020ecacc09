#include "device/sha256.h"

#include <QCryptographicHash>
#include <QtTest>

namespace {

// `plain`: the portable code even where the processor has SHA instructions.
QByteArray Digest(const QByteArray& data, int piece, bool plain = false)
{
    Sha256 context;
    Sha256Init(&context);
    context.accelerated = context.accelerated && !plain;
    for (int at = 0; at < data.size(); at += piece)
        Sha256Update(&context, data.constData() + at, std::min(piece, int(data.size()) - at));
    unsigned char sum[32];
    Sha256Final(&context, sum);
    return QByteArray(reinterpret_cast<const char*>(sum), 32).toHex();
}

} // namespace

class TestSha256 : public QObject {
    Q_OBJECT

private slots:
    void shouldGiveTheStandardVectors_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("digest");
        QTest::newRow("empty")
            << QByteArray()
            << QByteArray("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        QTest::newRow("abc")
            << QByteArray("abc")
            << QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        QTest::newRow("two blocks")
            << QByteArray("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")
            << QByteArray("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
        QTest::newRow("a million a")
            << QByteArray(1000000, 'a')
            << QByteArray("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    }
    void shouldGiveTheStandardVectors()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, digest);
        // Whole, and in pieces that straddle the 64-byte blocks.
        for (bool plain : {false, true}) {
            for (int piece : {std::max(1, int(data.size())), 1, 63, 65, 16384})
                QCOMPARE(Digest(data, piece, plain), digest);
        }
    }

    void shouldAgreeWithQtOnMegabytes()
    {
        QByteArray data(3 * 1024 * 1024 + 77, Qt::Uninitialized);
        quint32 state = 12345;
        for (char& c : data) {
            state = state * 1103515245u + 12345u;
            c = char(state >> 16);
        }
        const QByteArray qt = QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
        QCOMPARE(Digest(data, 16384), qt);
        QCOMPARE(Digest(data, 16384, true), qt);
    }
};

QTEST_GUILESS_MAIN(TestSha256)
#include "tst_sha256.moc"
