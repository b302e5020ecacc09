#include "app/single_instance.h"

#include <QProcess>
#include <QSharedMemory>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A helper process holding the guard of `key`; "held" once it has it.
QString startHolder(QProcess& holder, const QString& key)
{
    holder.start(HOLDER_PATH, {key});
    if (!holder.waitForStarted(5000) || !holder.waitForReadyRead(5000))
        return QString();
    return QString::fromLatin1(holder.readLine()).trimmed();
}

// True while some process holds the segment of `key`; leaves it as it was.
bool isHeld(const QString& key)
{
    QSharedMemory probe(key);
    if (!probe.attach(QSharedMemory::ReadOnly))
        return false;
    probe.detach();
    return true;
}

QString uniqueKey(const char* name)
{
    return QString("quillon-test-%1-%2").arg(name).arg(QCoreApplication::applicationPid());
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private slots:
    void shouldRefuseWhileAnotherCopyHoldsIt();
    void shouldReclaimSegmentOfKilledCopy();
    void shouldLetSecondUpdaterExitAtOnceWithZero();
};

void TestSingleInstance::shouldRefuseWhileAnotherCopyHoldsIt()
{
    const QString key = uniqueKey("live");
    QProcess holder;
    QCOMPARE(startHolder(holder, key), QString("held"));
    {
        QSharedMemory second(key);
        QVERIFY(!takeSingleInstance(second));
    }
    // The probe of a live segment must not have taken it from its holder.
    QSharedMemory third(key);
    QVERIFY(!takeSingleInstance(third));

    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(5000));
    QCOMPARE(holder.exitCode(), 0);
    QSharedMemory afterwards(key);
    QVERIFY(takeSingleInstance(afterwards));
}

void TestSingleInstance::shouldReclaimSegmentOfKilledCopy()
{
    const QString key = uniqueKey("killed");
    QProcess holder;
    QCOMPARE(startHolder(holder, key), QString("held"));
    holder.kill(); // SIGKILL: no destructor gives the segment up
    QVERIFY(holder.waitForFinished(5000));

    QSharedMemory next(key);
    QVERIFY(takeSingleInstance(next));
    // And it is held again: one more start is refused.
    QSharedMemory another(key);
    QVERIFY(!takeSingleInstance(another));
}

void TestSingleInstance::shouldLetSecondUpdaterExitAtOnceWithZero()
{
    // The first probe removes a segment that a crashed copy left; a live one stays.
    if (isHeld(kSingleInstanceKey) && isHeld(kSingleInstanceKey))
        QSKIP("an updater runs on this machine");
    QTemporaryDir folder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess first;
    first.setProcessEnvironment(env);
    first.start(UPDATER_PATH, {folder.path(), "1"});
    QVERIFY(first.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(isHeld(kSingleInstanceKey), 10000);

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(UPDATER_PATH, {folder.path(), "1"});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    // The first copy killed while it holds the guard keeps no later start from running.
    first.kill();
    QVERIFY(first.waitForFinished(5000));
    QProcess next;
    QCOMPARE(startHolder(next, kSingleInstanceKey), QString("held"));
    next.closeWriteChannel();
    QVERIFY(next.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
