// The update history file: appended to, read back, moved aside past its bound, and where it lies.
#include "history_sample.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

class TestHistory : public QObject {
    Q_OBJECT
private slots:
    // A history that is a FIFO is refused at once, and nothing is lost into it: never waited on.
    void shouldRefuseAHistoryThatIsNoPlainFile()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + "/history.jsonl";
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        std::atomic<bool> done{false};
        bool read = true;
        bool appended = true;
        QString readError;
        QString appendError;
        std::thread user([&] {
            QVector<QJsonObject> records;
            int bad = 0;
            read = readHistory(&records, &bad, &readError, path);
            appended = appendHistory(record(), &appendError, path);
            done = true;
        });
        const bool ended = QTest::qWaitFor([&] { return done.load(); }, 5000);
        // A reader waiting for a writer is let go by one that comes and goes.
        for (int i = 0; i < 100 && !done; ++i) {
            const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
            QTest::qWait(50);
        }
        user.join();
        QVERIFY2(ended, "the history waited on a FIFO");
        QVERIFY(!read);
        QVERIFY2(readError.contains("no plain file"), qPrintable(readError));
        QVERIFY(!appended);
        QVERIFY2(appendError.contains("no plain file"), qPrintable(appendError));
    }

    void shouldKeepWhatIsThereAndAppendALine_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<int>("unreadable");
        QTest::newRow("none") << QByteArray() << 0;
        QTest::newRow("a cut last line") << QByteArray("{\"time\":\"2026-01-01\",\"outc") << 1;
        QTest::newRow("binary junk") << QByteArray("\x00\xff\x10garbage\n", 11) << 1;
        QTest::newRow("a JSON line of something else") << QByteArray("[1,2]\n{\"a\":1}\n") << 2;
    }
    void shouldKeepWhatIsThereAndAppendALine()
    {
        QFETCH(QByteArray, before);
        QFETCH(int, unreadable);
        QTemporaryDir dir;
        const QString path = dir.path() + "/quillon/history.jsonl";
        QVERIFY(QDir().mkpath(dir.path() + "/quillon"));
        if (!before.isEmpty())
            writeAll(path, before);
        QString error;
        QVERIFY2(appendHistory(record(), &error, path), qPrintable(error));
        QVERIFY2(appendHistory(record(), &error, path), qPrintable(error));
        const QByteArray after = readAll(path);
        QVERIFY(after.startsWith(before)); // nothing of the old is lost
        QVector<QJsonObject> records;
        int bad = -1;
        QVERIFY(readHistory(&records, &bad, &error, path));
        QCOMPARE(records.size(), 2);
        QCOMPARE(bad, unreadable);
        QCOMPARE(records[1], historyJson(record()));
        QCOMPARE(records[1]["calculators"].toArray()[1].toObject()["results"].toObject(),
                 (QJsonObject{{"ZENTA_OS.ROM", 112}, {"ZENTA_APP.DAT", QJsonValue()}}));
    }

    void shouldRotatePastItsBound()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + "/history.jsonl";
        const QByteArray old = QByteArray(kHistoryRotateBytes - 50, 'x') + '\n';
        writeAll(path, old);
        QString error;
        QVERIFY(appendHistory(record(), &error, path));
        QCOMPARE(readAll(dir.path() + "/history.1.jsonl"), old);
        QCOMPARE(readAll(path).count('\n'), 1);
        // What was moved aside is still read, before the newer records.
        writeAll(dir.path() + "/history.1.jsonl",
                 QJsonDocument(historyJson(record())).toJson(QJsonDocument::Compact) + "\nx\n");
        QVector<QJsonObject> records;
        int unreadable = 0;
        QVERIFY(readHistory(&records, &unreadable, &error, path));
        QCOMPARE(records.size(), 2);
        QCOMPARE(unreadable, 1);
    }

    void shouldTellWhyItCannotWrite()
    {
        QTemporaryDir dir;
        writeAll(dir.path() + "/file", "x");
        QString error;
        QVERIFY(!appendHistory(record(), &error, dir.path() + "/file/history.jsonl"));
        QVERIFY(error.contains("file/history.jsonl"));
        QCOMPARE(readAll(dir.path() + "/file"), QByteArray("x"));
    }

    void shouldLieInTheStateFolder_data()
    {
        QTest::addColumn<QByteArray>("stateHome");
        QTest::addColumn<QString>("expected");
        QTest::newRow("set") << QByteArray("/var/state") << "/var/state/quillon/history.jsonl";
        QTest::newRow("unset") << QByteArray()
                               << QDir::homePath() + "/.local/state/quillon/history.jsonl";
        QTest::newRow("relative, ignored")
            << QByteArray("state") << QDir::homePath() + "/.local/state/quillon/history.jsonl";
    }
    void shouldLieInTheStateFolder()
    {
        QFETCH(QByteArray, stateHome);
        QFETCH(QString, expected);
        const QByteArray saved = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", stateHome);
        const QString path = historyFilePath();
        qputenv("XDG_STATE_HOME", saved);
        QCOMPARE(path, expected);
    }
};

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
