// The program started as a user would start it: with or without a graphical session, and with
// the arguments that ask for its usage or version instead of its window.
#include <QProcess>
#include <QtTest>

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void shouldAnswerWithoutWindow_data();
    void shouldAnswerWithoutWindow();
};

void TestStartup::shouldAnswerWithoutWindow_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment"); // NAME=value; the session variables are unset
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("onError");
    QTest::addColumn<QString>("says");
    const QString version = QStringLiteral("quillon-fwupdate " QUILLON_VERSION);
    const QStringList offscreen{"QT_QPA_PLATFORM=offscreen"};
    QTest::newRow("no session") << QStringList() << QStringList() << 1 << true
                                << "needs a graphical session";
    QTest::newRow("no session, folder and language")
        << QStringList{"/tmp", "3"} << QStringList() << 1 << true << "needs a graphical session";
    QTest::newRow("display that does not answer") << QStringList() << QStringList{"DISPLAY=:97531"}
                                                  << 1 << true << "needs a graphical session";
    QTest::newRow("Wayland socket that does not answer")
        << QStringList() << QStringList{"WAYLAND_DISPLAY=quillon-none"} << 1 << true
        << "needs a graphical session";
    QTest::newRow("help") << QStringList{"--help"} << offscreen << 0 << false << "Usage:";
    QTest::newRow("help, no session")
        << QStringList{"--help"} << QStringList() << 0 << false << "Usage:";
    QTest::newRow("short help") << QStringList{"-h"} << QStringList() << 0 << false << "Usage:";
    QTest::newRow("version") << QStringList{"--version"} << offscreen << 0 << false << version;
    QTest::newRow("version, no session")
        << QStringList{"--version"} << QStringList() << 0 << false << version;
}

void TestStartup::shouldAnswerWithoutWindow()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(int, exitCode);
    QFETCH(bool, onError);
    QFETCH(QString, says);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    for (const QString& entry : environment)
        env.insert(entry.section('=', 0, 0), entry.section('=', 1));
    QProcess updater;
    updater.setProcessEnvironment(env);
    updater.start(UPDATER_PATH, arguments);
    QVERIFY(updater.waitForFinished(10000));
    QCOMPARE(updater.exitStatus(), QProcess::NormalExit); // no abort, no core
    QCOMPARE(updater.exitCode(), exitCode);
    const QString out = QString::fromLocal8Bit(updater.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(updater.readAllStandardError());
    QVERIFY2((onError ? err : out).contains(says), qPrintable(out + err));
    if (onError) {
        QCOMPARE(err.trimmed().count('\n'), 0); // one line, and no advice to reinstall
        QVERIFY(out.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
