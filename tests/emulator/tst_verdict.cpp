#include "calculator.h"
#include "extents.h"
#include "phase_shots.h"
#include "rig.h"
#include "update_folder.h"
#include "verify.h"
#include "window_log.h"

#include <QtTest>

#include <sys/wait.h>

// The emulator's verdict: every check must fail on the fault it is there for, and only on it.

namespace {

const QByteArray kHash = QByteArray(32, 'h');

std::vector<FileRegion> Files()
{
    return {{"ZENTA_OS.ROM", 0, 1000, kHash}, {"ZENTA_APP.DAT", 0x500000, 2000, kHash}};
}

TransferRecord Transfer(std::uint64_t offset, std::uint64_t size, double at)
{
    TransferRecord transfer;
    transfer.startedAt = at;
    transfer.endedAt = at + 0.5;
    transfer.progress = {{0, 1, true}, {50, 1, true}, {100, 1, true}};
    transfer.written.Add(offset, (offset + size + 511) / 512 * 512);
    transfer.completed = true;
    transfer.sha256 = kHash;
    transfer.coveredWhole = true;
    return transfer;
}

CalculatorRecord Updated()
{
    CalculatorRecord calculator;
    calculator.plan.serial = "ZT1";
    calculator.state.transfers = {Transfer(0x500000, 2000, 1), Transfer(0, 1000, 2)};
    calculator.state.events = {{MailboxEvent::Command, 3, kCmdFinish, 0, true}};
    calculator.state.finishAt = 3;
    calculator.state.finalSha256 = {kHash, kHash};
    for (const FileRegion& file : Files()) {
        calculator.state.changed.Add(file.offset, file.offset + file.size);
    }
    return calculator;
}

QByteArray Pattern(int size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(seed + i * 7 + i / 509);
    }
    return bytes;
}

// Sends a file to the calculator as the updater does: area read, progress 0, the data in
// chunks, progress 100, area read.
void Send(Calculator& calculator, std::uint64_t offset, const QByteArray& bytes)
{
    std::vector<unsigned char> sector(kSectorSize);
    std::vector<unsigned char> area(15872);
    const auto command = [&](std::uint32_t percent) {
        EncodeCommand(sector.data(), {kCmdProgress, percent});
        calculator.Write(kMailboxOffset, kSectorSize, sector.data());
        calculator.Read(kMailboxOffset, kSectorSize, sector.data());
    };
    calculator.Read(kMailboxOffset, 15360, area.data());
    command(0);
    for (int at = 0; at < bytes.size(); at += 16384) {
        const int part = std::min(16384, bytes.size() - at);
        calculator.Write(offset + static_cast<std::uint64_t>(at), static_cast<std::uint64_t>(part),
                         reinterpret_cast<const unsigned char*>(bytes.constData() + at));
    }
    command(100);
    calculator.Read(kMailboxOffset, 15872, area.data());
}

struct SentFile {
    FileRegion region;
    QByteArray bytes;
};

SentFile Made(const std::string& name, std::uint64_t offset, int size, char seed)
{
    const QByteArray bytes = Pattern(size, seed);
    return {{name, offset, static_cast<std::uint64_t>(size),
             QCryptographicHash::hash(bytes, QCryptographicHash::Sha256)},
            bytes};
}

// The calculator after the files were sent in this order, and the finish command.
CalculatorRecord Sent(const std::vector<SentFile>& files, const std::vector<int>& order)
{
    std::vector<FileRegion> regions;
    for (const SentFile& file : files) {
        regions.push_back(file.region);
    }
    Calculator calculator("ZT1", 8 << 20, regions, {}, std::chrono::steady_clock::now());
    calculator.SetPresent(true);
    for (int index : order) {
        Send(calculator, files[index].region.offset, files[index].bytes);
    }
    std::vector<unsigned char> finish(kSectorSize);
    EncodeCommand(finish.data(), {kCmdFinish, 0});
    calculator.Write(kMailboxOffset, kSectorSize, finish.data());
    CalculatorRecord record;
    record.plan.serial = "ZT1";
    record.state = calculator.State();
    return record;
}

QStringList Failed(const std::vector<Check>& checks)
{
    QStringList failed;
    for (const Check& check : checks) {
        if (!check.ok) {
            failed << QString::fromStdString(check.what);
        }
    }
    return failed;
}

} // namespace

class TestVerdict : public QObject {
    Q_OBJECT
private slots:
    void updatedCalculatorPasses();
    void eachFaultIsCaught_data();
    void eachFaultIsCaught();
    void writtenOnlyAfterAnEarlierWave_data();
    void writtenOnlyAfterAnEarlierWave();
    void calculatorToBeLeftAlone();
    void judgedOnTheDiskAtTheEnd_data();
    void judgedOnTheDiskAtTheEnd();
    void otherDisk();
    void updaterAndWindow();
    void refusalsAndSecondCopy();
    void windowsProgramJudgedByItsEnd();
    void commandStory();
    void windowLogReadsWholeLines();
    void sampleUpdateFolder();
    void phaseShots();
    void extentsMerge();
    void diskNames();
};

void TestVerdict::updatedCalculatorPasses()
{
    QCOMPARE(Failed(CheckCalculator(Updated(), Files())), QStringList());
}

void TestVerdict::eachFaultIsCaught_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<QStringList>("checks");
    QTest::newRow("wrong hash") << 0
                                << QStringList{
                                       "ZENTA_APP.DAT: the last transfer did not write it whole"};
    QTest::newRow("hole") << 1
                          << QStringList{"ZENTA_APP.DAT: the last transfer did not write it whole"};
    QTest::newRow("past the file")
        << 2 << QStringList{"ZENTA_APP.DAT: the last transfer did not write it whole"};
    QTest::newRow("again") << 3
                           << QStringList{"ZENTA_OS.ROM: 2 transfer(s), expected 1",
                                          "ZENTA_OS.ROM: an attempt ended well but was repeated"};
    QTest::newRow("no finish") << 4
                               << QStringList{
                                      "finish command: 0, expected 1, after the last transfer"};
    QTest::newRow("progress back") << 5 << QStringList{"transfer 1: progress goes back from 50"};
    QTest::newRow("repeated") << 6 << QStringList{"transfer 1: progress 50 came 6 times, not 1"};
    QTest::newRow("stray") << 7 << QStringList{"data written outside a transfer: 1"};
    QTest::newRow("outside") << 8 << QStringList{"a byte outside the files changed, at 0x4000"};
    QTest::newRow("no data") << 9 << QStringList{"transfer 3: wrote no file's first byte"};
    QTest::newRow("written over later")
        << 10 << QStringList{"ZENTA_APP.DAT: the disk at the end does not hold it"};
    QTest::newRow("never sent, changed")
        << 11 << QStringList{"ZENTA_APP.DAT: never sent, yet its stretch changed at 0x5003e8"};
    QTest::newRow("success of a changed source")
        << 12 << QStringList{"ZENTA_APP.DAT: 1 transfer(s), 1 ended as a success, expected none"};
    // A changed source may be refused before its first byte.
    QTest::newRow("early failure") << 13 << QStringList();
}

void TestVerdict::eachFaultIsCaught()
{
    QFETCH(int, fault);
    QFETCH(QStringList, checks);
    CalculatorRecord calculator = Updated();
    CalculatorState& state = calculator.state;
    TransferRecord& app = state.transfers[0];
    switch (fault) {
    case 0:
        app.sha256 = QByteArray(32, 'x');
        break;
    case 1:
        app.coveredWhole = false;
        break;
    case 2:
        app.strayBytes = true;
        break;
    case 3:
        state.transfers.push_back(Transfer(0, 1000, 2.4));
        break;
    case 4:
        state.events.clear();
        state.finishAt.reset();
        break;
    case 5:
        app.progress = {{0, 1, true}, {50, 1, true}, {40, 1, true}, {100, 1, true}};
        break;
    case 6:
        app.progress[1].times = 6;
        break;
    case 7:
        state.strayWrites = 1;
        break;
    case 8:
        state.changedOutsideFiles = 0x4000;
        break;
    case 9:
    case 13: {
        TransferRecord empty;
        empty.startedAt = 2.7;
        empty.endedAt = 2.8;
        empty.progress = {{0, 1, true}};
        state.transfers.push_back(empty);
        calculator.plan.earlyFailures = fault == 13;
        break;
    }
    case 10:
        state.finalSha256[1] = QByteArray(32, 'x');
        break;
    case 11:
        state.transfers.erase(state.transfers.begin());
        calculator.plan.files["ZENTA_APP.DAT"] = {-1, true};
        state.changed = Extents();
        state.changed.Add(0x5003e8, 0x5003e9);
        break;
    case 12:
        calculator.plan.files["ZENTA_APP.DAT"] = {kNeverCompletes, false};
        break;
    }
    QCOMPARE(Failed(CheckCalculator(calculator, Files())), checks);
}

void TestVerdict::writtenOnlyAfterAnEarlierWave_data()
{
    QTest::addColumn<QString>("after");      // the calculator the plan names
    QTest::addColumn<double>("firstAt");     // its first transfer; < 0 none
    QTest::addColumn<QStringList>("failed"); // the checks that fail
    QTest::newRow("no order asked for") << QString() << 1.0 << QStringList();
    QTest::newRow("after the finish") << "ZT1" << 3.5 << QStringList();
    QTest::newRow("no transfer") << "ZT1" << -1.0 << QStringList();
    QTest::newRow("in the earlier wave")
        << "ZT1" << 2.0
        << QStringList{"first transfer at 2.00 s, before the finish command to ZT1 (3.00 s)"};
    QTest::newRow("at the same moment")
        << "ZT1" << 3.0
        << QStringList{"first transfer at 3.00 s, before the finish command to ZT1 (3.00 s)"};
    QTest::newRow("the earlier one got no finish")
        << "ZT9" << 3.5 << QStringList{"written after the finish command to ZT9, which got none"};
}

void TestVerdict::writtenOnlyAfterAnEarlierWave()
{
    QFETCH(QString, after);
    QFETCH(double, firstAt);
    QFETCH(QStringList, failed);
    CalculatorRecord later = Updated();
    later.plan.serial = "ZT2";
    later.plan.writtenAfterFinishOf = after.toStdString();
    if (firstAt < 0)
        later.state.transfers.clear();
    else
        later.state.transfers = {Transfer(0x500000, 2000, firstAt), Transfer(0, 1000, 9)};
    CalculatorRecord unfinished = Updated();
    unfinished.plan.serial = "ZT9";
    unfinished.state.finishAt.reset();
    const std::vector<Check> checks = CheckWaveOrder(later, {Updated(), later, unfinished});
    QCOMPARE(Failed(checks), failed);
    QCOMPARE(checks.empty(), after.isEmpty());
}

void TestVerdict::calculatorToBeLeftAlone()
{
    CalculatorRecord calculator;
    calculator.plan.untouched = true;
    QCOMPARE(Failed(CheckCalculator(calculator, Files())), QStringList());
    calculator.state.finishAt = 1;
    calculator.state.events = {{MailboxEvent::Command, 1, kCmdFinish, 0, true}};
    QCOMPARE(Failed(CheckCalculator(calculator, Files())),
             QStringList{"left alone: 0 transfers, 1 finish commands"});
    // Refused before the first byte: a finish command may come, data may not.
    calculator.plan.untouched = false;
    calculator.plan.unwritten = true;
    QCOMPARE(Failed(CheckCalculator(calculator, Files())), QStringList());
    calculator.state.changed.Add(0x4000, 0x4010);
    QCOMPARE(Failed(CheckCalculator(calculator, Files())),
             QStringList{"a byte of the disk changed, at 0x4000"});
    calculator.state.changed = Extents();
    calculator.state.transfers = {Transfer(0, 1000, 0.5)};
    QCOMPARE(Failed(CheckCalculator(calculator, Files())),
             QStringList{"no data sent: 1 transfers with data, 1 finish commands (at most 1)"});
}

void TestVerdict::judgedOnTheDiskAtTheEnd_data()
{
    QTest::addColumn<int>("osSize");
    QTest::addColumn<bool>("osFirst");
    QTest::addColumn<QStringList>("checks");
    QTest::newRow("fits, OS first") << 1000000 << true << QStringList();
    QTest::newRow("fits, OS last") << 1000000 << false << QStringList();
    // Each transfer wrote its file whole; the one sent later wrote over the other.
    QTest::newRow("2 MiB OS, KESTOL over it")
        << (2 << 20) << true << QStringList{"OS: the disk at the end does not hold it"};
    QTest::newRow("2 MiB OS over KESTOL")
        << (2 << 20) << false << QStringList{"KESTOL: the disk at the end does not hold it"};
}

void TestVerdict::judgedOnTheDiskAtTheEnd()
{
    QFETCH(int, osSize);
    QFETCH(bool, osFirst);
    QFETCH(QStringList, checks);
    const std::vector<SentFile> files = {Made("OS", 0, osSize, 1),
                                         Made("KESTOL", 0x100000, 300000, 2)};
    const CalculatorRecord calculator =
        Sent(files, osFirst ? std::vector<int>{0, 1} : std::vector<int>{1, 0});
    QCOMPARE(Failed(CheckCalculator(calculator, {files[0].region, files[1].region})), checks);
}

void TestVerdict::otherDisk()
{
    QCOMPARE(Failed(CheckOtherDisk({{}, 10, 0, true})), QStringList());
    QCOMPARE(Failed(CheckOtherDisk({{}, 0, 1, true})).size(), 1);
    QCOMPARE(Failed(CheckOtherDisk({{}, 0, 0, false})).size(), 1);
}

void TestVerdict::updaterAndWindow()
{
    RunRecord record;
    record.exitStatus = 0; // as waitpid gives "exit code 0"
    record.probeLoaded = true;
    WindowLook waiting;
    waiting.labels = QStringList{"Waiting for connection....."};
    WindowLook done;
    done.labels = QStringList{"Done"};
    record.looks = {waiting, done};
    WindowPlan plan;
    plan.finalText = "Done";
    plan.seen = {"Waiting for connection..."};
    plan.neverStartingWith = {"Update failed"};
    QCOMPARE(Failed(CheckUpdater(record, plan, 1)), QStringList());

    record.looks.back().labels = QStringList{"Update failed (112)"};
    QCOMPARE(Failed(CheckUpdater(record, plan, 1)),
             (QStringList{"ends showing \"Done\"", "never showed \"Update failed...\""}));
    // In another language the translated texts are not known here.
    QCOMPARE(Failed(CheckUpdater(record, plan, 4)),
             QStringList{"never showed \"Update failed...\""});

    record.looks.back().labels = QStringList{"Done"};
    record.exitStatus = 15; // killed by SIGTERM
    QCOMPARE(Failed(CheckUpdater(record, plan, 1)),
             QStringList{"ended by itself with exit code 0"});
    plan.exits = false;
    record.stoppedByEmulator = true;
    QCOMPARE(Failed(CheckUpdater(record, plan, 1)), QStringList());
    record.probeLoaded = false;
    record.timedOut = true;
    QCOMPARE(Failed(CheckUpdater(record, plan, 1)).size(), 3);
}

void TestVerdict::refusalsAndSecondCopy()
{
    RunRecord record;
    record.probeLoaded = true;
    record.stoppedByEmulator = true;
    WindowLook look;
    look.title = "Firmware update";
    look.labels = QStringList{"Update failed (111)"};
    record.looks = {look, WindowLook()}; // the window went away at the end
    WindowPlan plan;
    plan.exits = false;
    plan.finalPattern = "No updates are available|Update failed \\(\\d+\\)";
    QCOMPARE(Failed(CheckUpdater(record, plan, 1)), QStringList());
    for (const char* text : {"Update failed (111), Retry: 1", "Done"}) {
        record.looks.front().labels = QStringList{text};
        QCOMPARE(Failed(CheckUpdater(record, plan, 1)),
                 QStringList{"ends showing a text matching \"" +
                             QString::fromStdString(plan.finalPattern) + "\""});
    }
    // Either way out, as long as it was not killed for want of an end.
    plan = WindowPlan();
    plan.mayStayOpen = true;
    QCOMPARE(Failed(CheckUpdater(record, plan, 1)), QStringList());
    record.stoppedByEmulator = false;
    record.exitStatus = 0;
    QCOMPARE(Failed(CheckUpdater(record, plan, 1)), QStringList());
    record.exitStatus = 15;
    QCOMPARE(Failed(CheckUpdater(record, plan, 1)).size(), 1);

    record.exitStatus = 0;
    record.secondCopy = true;
    record.secondExitStatus = 0;
    record.secondRan = 0.8;
    QCOMPARE(Failed(CheckUpdater(record, plan, 1)), QStringList());
    const QStringList late = {"a second copy ended at once with exit code 0"};
    record.secondRan = 14; // it ran beside the first until the end
    QCOMPARE(Failed(CheckUpdater(record, plan, 1)), late);
    record.secondRan = 0.8;
    record.secondExitStatus.reset();
    QCOMPARE(Failed(CheckUpdater(record, plan, 1)), late);
    record.secondExitStatus = 1 << 8; // exit code 1
    QCOMPARE(Failed(CheckUpdater(record, plan, 1)), late);
}

// Under Wine no probe watches the window: its history record and exit code must say how the
// update ended, or the run fails.
void TestVerdict::windowsProgramJudgedByItsEnd()
{
    RunRecord record;
    record.stoppedByEmulator = true;
    WindowPlan plan;
    plan.exits = false;
    plan.finalText = "Update failed (112)";
    record.windowHistory = std::make_pair(std::string("failed"), 112);
    QCOMPARE(Failed(CheckUpdater(record, plan, 1, false)), QStringList());
    const QString history = "its update history records \"failed\" (112)";
    for (const auto& seen :
         {std::make_pair(std::string("failed"), 109), std::make_pair(std::string("ok"), 0)}) {
        record.windowHistory = seen;
        QCOMPARE(Failed(CheckUpdater(record, plan, 1, false)).size(), 1);
        QVERIFY(Failed(CheckUpdater(record, plan, 1, false)).front().startsWith(history));
    }
    record.windowHistory.reset();
    QCOMPARE(Failed(CheckUpdater(record, plan, 1, false)).size(), 1);

    // The command line in its place ends with the window's result code.
    record.stoppedByEmulator = false;
    for (int code : {112, 1, 0}) {
        record.exitStatus = code << 8;
        QCOMPARE(Failed(CheckProgram(record, plan)).isEmpty(), code == 112);
    }
    plan.exits = true;
    plan.finalText = "Done";
    QCOMPARE(Failed(CheckProgram(record, plan)), QStringList());
    record.windowHistory = std::make_pair(std::string("ok"), 0);
    QCOMPARE(Failed(CheckUpdater(record, plan, 1, false)), QStringList());
    record.exitStatus = 112 << 8;
    QCOMPARE(Failed(CheckProgram(record, plan)).size(), 1);
}

void TestVerdict::commandStory()
{
    std::vector<MailboxEvent> events = {{MailboxEvent::AreaRead, 0, 0, 15360, true}};
    for (std::uint32_t percent : {0u, 0u, 30u, 100u}) {
        events.push_back({MailboxEvent::Command, 0, kCmdProgress, percent, false});
    }
    events.push_back({MailboxEvent::Command, 0, kCmdProgress, 0, true});
    events.push_back({MailboxEvent::Command, 0, kCmdFinish, 0, true});
    events.push_back({MailboxEvent::Command, 0, 0x99, 0, false});
    QCOMPARE(CommandStory(events), std::string("read 30 sectors, progress 0..100 (4 commands) "
                                               "refused, progress 0, finish, command 0x99"));
    QCOMPARE(CommandStory({}), std::string("none"));
}

void TestVerdict::windowLogReadsWholeLines()
{
    QTemporaryDir folder;
    QFile file(folder.filePath("window.log"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    WindowLog log(file.fileName().toStdString());
    file.write("{\"probe\":\"loaded\"}\n{\"t\":500,\"labels\":[\"Waiting\"],\"buttons\":"
               "[{\"text\":\"Cancel\",\"enabled\":true}],\"progress\":-1}\n{\"t\":900,\"lab");
    log.Update();
    QVERIFY(log.ProbeLoaded());
    QCOMPARE(log.Looks().size(), std::size_t(1));
    file.write("els\":[\"Done\"],\"buttons\":[{\"text\":\"Start\",\"enabled\":false}],"
               "\"progress\":40}\n{\"t\":950,\"labels\":[\"Done\"],\"buttons\":[{\"text\":"
               "\"Start\",\"enabled\":false}],\"progress\":70,\"shot\":\"shot-001.png\"}\n");
    log.Update();
    QCOMPARE(log.Looks().size(), std::size_t(3));
    QCOMPARE(log.Looks()[2].shot, QString("shot-001.png"));
    QVERIFY(log.EverShowed("Wait"));
    QVERIFY(log.ShowsNow("Done"));
    QVERIFY(!log.ShowsNow("Waiting"));
    // Progress alone is no new line of the story.
    const std::vector<std::string> story = log.Story();
    QCOMPARE(story.size(), std::size_t(2));
    QCOMPARE(story[1], std::string("   0.9 s  Done  [Start (disabled)]"));
}

void TestVerdict::sampleUpdateFolder()
{
    QTemporaryDir folder;
    std::string error;
    const std::vector<FileRegion> made =
        MakeUpdateFolder(folder.path().toStdString(), Generation::New, {1000, 2000, 3000}, &error);
    QCOMPARE(made.size(), std::size_t(3));
    QCOMPARE(QFileInfo(folder.filePath("ZENTA_KESTOL.DAT")).size(), 2000);
    QCOMPARE(made[1].offset, std::uint64_t(0x100000));
    QCOMPARE(made[2].offset, std::uint64_t(0x500000));
    QVERIFY(made[0].sha256 != made[1].sha256);
    // A legacy file beside them does not count: the folder is of the new generation.
    QFile legacy(folder.filePath("kestol.dat"));
    QVERIFY(legacy.open(QIODevice::WriteOnly) && legacy.write("x") == 1);
    legacy.close();
    std::vector<FileRegion> read = ReadUpdateFolder(folder.path().toStdString(), &error);
    QCOMPARE(read.size(), std::size_t(3));
    for (const FileRegion& file : read) {
        const auto same = std::find_if(made.begin(), made.end(),
                                       [&](const FileRegion& m) { return m.name == file.name; });
        QVERIFY(same != made.end());
        QCOMPARE(file.sha256, same->sha256);
        QCOMPARE(file.offset, same->offset);
    }
    QCOMPARE(DiskOffsetFor("lunapack.dat"), std::uint64_t(0x500000));
    QCOMPARE(DiskOffsetFor("README"), std::uint64_t(0));
}

void TestVerdict::phaseShots()
{
    const auto look = [](QStringList labels, QStringList buttons, int progress, QString shot) {
        WindowLook made;
        made.labels = labels;
        made.buttons = buttons;
        made.progress = progress;
        made.shot = shot;
        return made;
    };
    // Words of another language: only the window's shape counts.
    const std::vector<WindowLook> looks = {
        look({"/u/A"}, {"Abbrechen"}, 0, "1"),
        look({"Warten.", "/u/A"}, {"Abbrechen"}, 0, "2"),
        look({"Warten..", "/u/A"}, {"Abbrechen"}, 0, "3"),
        look({"Bereit", "/u/A"}, {"Start - 4"}, 0, "4"),
        look({"Bereit", "/u/A"}, {"Start - 3"}, 0, "5"),
        look({"/u/A"}, {"Start (disabled)"}, 20, "6"),
        look({"/u/A"}, {"Start (disabled)"}, 45, ""),
        look({"/u/A"}, {"Start (disabled)"}, 58, "7"),
        look({"/u/A"}, {"Start (disabled)"}, 100, "8"),
        look({"Fertig"}, {}, 100, "9"),
        look({"Fertig"}, {}, 100, ""),
    };
    const std::map<std::string, QString> shots = PickPhaseShots(looks);
    const std::map<std::string, QString> expected = {
        {"waiting", "3"}, {"countdown", "5"}, {"transfer", "7"}, {"done", "9"}};
    QCOMPARE(shots, expected);
    // Without a countdown at 3 seconds its first picture; without any, no phase but the end.
    std::vector<WindowLook> fewer = looks;
    fewer.erase(fewer.begin() + 4);
    QCOMPARE(PickPhaseShots(fewer).at("countdown"), QString("4"));
    QCOMPARE(PickPhaseShots({looks[0], looks[9]}), (std::map<std::string, QString>{{"done", "9"}}));
}

void TestVerdict::extentsMerge()
{
    Extents extents;
    extents.Add(100, 200);
    extents.Add(300, 400);
    QVERIFY(!extents.Covers(150, 350));
    extents.Add(200, 300); // touching ranges become one
    QVERIFY(extents.Covers(100, 400));
    QCOMPARE(extents.Ranges().size(), std::size_t(1));
    extents.Add(50, 60);
    QCOMPARE(extents.Lowest(), std::uint64_t(50));
    QCOMPARE(extents.Highest(), std::uint64_t(400));
    QCOMPARE(extents.Bytes(), std::uint64_t(310));
    QVERIFY(!extents.Covers(40, 60));
}

void TestVerdict::diskNames()
{
    QCOMPARE(ScsiDiskName(0), std::string("sda"));
    QCOMPARE(ScsiDiskName(25), std::string("sdz"));
    QCOMPARE(ScsiDiskName(26), std::string("sdaa"));
    QCOMPARE(ScsiDiskName(27), std::string("sdab"));
}

QTEST_GUILESS_MAIN(TestVerdict)
#include "tst_verdict.moc"
