// The command line's answers to bad input, beside another copy, and its listing of the history.
#include "history_sample.h"
#include "own_guard_namespace.h"
#include "settings/single_instance.h"

#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
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
        // As the window: the work folder's "Firmware" folder (here complete), not the work
        // folder itself (here incomplete).
        QTest::newRow("no folder: the work folder's update folder")
            << QStringList{"update", "--wait", "0"} << 4 << "no calculator";
        // A path that is not valid UTF-8 (byte 0xFF): it must not read as a missing folder.
        QTest::newRow("folder not UTF-8") << QStringList{"update", "NOT-UTF-8", "--wait", "0"} << 2
                                          << "argument 2 is not valid UTF-8";
        QTest::newRow("station without a countdown")
            << QStringList{"station", "--yes"} << 2 << "--yes belongs to update";
        QTest::newRow("station of an incomplete set")
            << QStringList{"station", "INCOMPLETE", "--wait", "0"} << 3 << "no KESTOL data file";
        QTest::newRow("station without a calculator within --wait")
            << QStringList{"station", "COMPLETE", "--wait", "0"} << 4 << "no calculator";
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
        // The suite's work folder: incomplete itself, complete in its "Firmware" folder.
        QVERIFY(QDir().mkpath(dir.path() + "/Firmware"));
        QVERIFY(QDir().mkpath(dir.path() + "/config/KZ"));
        for (const char* name : {"ZENTA_OS.ROM", "ZENTA_APP.DAT", "ZENTA_KESTOL.DAT"})
            writeAll(dir.path() + "/Firmware/" + name, "data");
        writeAll(dir.path() + "/config/KZ/Quillon.conf",
                 "[General]\nLanguage=1\nWorkFolder=" + dir.path().toUtf8() + "\n");
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_STATE_HOME", dir.path() + "/state");
        env.insert("XDG_CONFIG_HOME", dir.path() + "/config");
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
};

int main(int argc, char** argv)
{
    EnterOwnGuardNamespace();
    QCoreApplication app(argc, argv);
    TestCommandLine test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_commandline.moc"
