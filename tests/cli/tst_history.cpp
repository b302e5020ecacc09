// The update history file, and the command line's answers to bad input.
#include "own_guard_namespace.h"
#include "settings/single_instance.h"
#include "update/update_history.h"

#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

HistoryRecord record()
{
    HistoryRecord r = beginHistoryRecord("test", "1.2.3", "/updates",
                                         {{"ZENTA_OS.ROM", 10, QByteArray(32, '\x01')},
                                          {"ZENTA_APP.DAT", 20, QByteArray(32, '\x02')}});
    DiskResult disks[2] = {};
    const char16_t* serials[2] = {u"a1", u"b2"};
    for (int i = 0; i < 2; ++i) {
        for (int c = 0; serials[i][c] != 0; ++c) {
            disks[i].serial[c] = serials[i][c];
            disks[i].devicePath[c] = serials[i][c];
        }
        disks[i].result = i == 0 ? 0 : 112;
    }
    noteTransferResults(&r, 0, disks, 2);
    // Fixed, so that two records built a second apart still compare equal.
    r.time = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);
    r.outcome = "failed";
    r.result = 112;
    return r;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

} // namespace

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

    // Without a calculator attached: every answer the command line gives before one is needed.
    void shouldAnswerBadInputWithItsCode_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("says");
        QTest::newRow("no command") << QStringList{} << 2 << "no command";
        QTest::newRow("unknown command") << QStringList{"flash"} << 2 << "unknown command flash";
        QTest::newRow("unknown option") << QStringList{"update", "--force"} << 2 << "--force";
        QTest::newRow("wait garbage") << QStringList{"update", "--wait", "soon"} << 2 << "--wait";
        QTest::newRow("wait negative") << QStringList{"update", "--wait", "-3"} << 2 << "--wait";
        QTest::newRow("wait missing") << QStringList{"update", "--wait"} << 2 << "--wait";
        QTest::newRow("two folders") << QStringList{"update", "a", "b"} << 2 << "one folder";
        QTest::newRow("update option on list") << QStringList{"list", "--yes"} << 2 << "--yes";
        QTest::newRow("no such folder")
            << QStringList{"update", "/no/such/folder", "--wait", "0"} << 3 << "does not exist";
        QTest::newRow("incomplete set")
            << QStringList{"update", "INCOMPLETE", "--wait", "0"} << 3 << "no KESTOL data file";
        QTest::newRow("no calculator within --wait")
            << QStringList{"update", "COMPLETE", "--wait", "0", "--json"} << 4 << "no calculator";
        // A path that is not valid UTF-8 (byte 0xFF): it must not read as a missing folder.
        QTest::newRow("folder not UTF-8") << QStringList{"update", "NOT-UTF-8", "--wait", "0"} << 2
                                          << "argument 2 is not valid UTF-8";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "quillon-fwupdate-cli 0.";
    }
    void shouldAnswerBadInputWithItsCode()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, says);
        QTemporaryDir dir;
        for (const char* name : {"ZENTA_OS.ROM", "ZENTA_APP.DAT"})
            writeAll(dir.path() + "/" + name, "data");
        const QString complete = dir.path() + "/complete";
        QVERIFY(QDir().mkpath(complete));
        for (const char* name : {"ZENTA_OS.ROM", "ZENTA_APP.DAT", "ZENTA_KESTOL.DAT"})
            writeAll(complete + "/" + name, "data");
        arguments.replaceInStrings("INCOMPLETE", dir.path());
        arguments.replaceInStrings("COMPLETE", complete);
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_STATE_HOME", dir.path() + "/state");
        cli.setProcessEnvironment(env);
        const QString program = QCoreApplication::applicationDirPath() + "/quillon-fwupdate-cli";
        if (arguments.contains("NOT-UTF-8")) {
            // QProcess takes text; the shell makes the raw byte.
            arguments.replaceInStrings("NOT-UTF-8", "$(printf '/tmp/\\377')");
            cli.start("/bin/sh", {"-c", "exec \"$0\" " + arguments.join(' '), program});
        } else {
            cli.start(program, arguments);
        }
        QVERIFY(cli.waitForFinished(30000));
        const QString output = cli.readAllStandardOutput() + cli.readAllStandardError();
        QCOMPARE(cli.exitCode(), exitCode);
        QVERIFY2(output.contains(says), qPrintable(output));
        QVERIFY(!QFile::exists(dir.path() + "/state/quillon/history.jsonl")); // no update ran
    }

    // The window holds the same guard for its whole life: an update from the command line while
    // it (or another update) runs could reach a calculator it writes.
    void shouldNotUpdateWhileAnotherCopyRuns()
    {
        QTemporaryDir dir;
        for (const char* name : {"ZENTA_OS.ROM", "ZENTA_APP.DAT", "ZENTA_KESTOL.DAT"})
            writeAll(dir.path() + "/" + name, "data");
        SingleInstance window;
        QVERIFY(window.take());
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_STATE_HOME", dir.path() + "/state");
        cli.setProcessEnvironment(env);
        cli.start(QCoreApplication::applicationDirPath() + "/quillon-fwupdate-cli",
                  {"update", dir.path(), "--wait", "0", "--yes"});
        QVERIFY(cli.waitForFinished(30000));
        const QString output = cli.readAllStandardOutput() + cli.readAllStandardError();
        QCOMPARE(cli.exitCode(), 6);
        QVERIFY2(output.contains("another copy of the updater"), qPrintable(output));
    }

    void shouldListAHistoryWithDamagedLines()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.path() + "/quillon"));
        const QString path = dir.path() + "/quillon/history.jsonl";
        writeAll(path, "garbage\n");
        QString error;
        QVERIFY(appendHistory(record(), &error, path));
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_STATE_HOME", dir.path());
        cli.setProcessEnvironment(env);
        cli.start(QCoreApplication::applicationDirPath() + "/quillon-fwupdate-cli",
                  {"history", "--json"});
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitCode(), 0);
        const QList<QByteArray> lines = cli.readAllStandardOutput().split('\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(QJsonDocument::fromJson(lines[0]).object(), historyJson(record()));
        QVERIFY(cli.readAllStandardError().contains("1 line(s)"));
        QVERIFY(readAll(path).startsWith("garbage\n"));
    }
};

int main(int argc, char** argv)
{
    EnterOwnGuardNamespace();
    QCoreApplication app(argc, argv);
    TestHistory test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_history.moc"
