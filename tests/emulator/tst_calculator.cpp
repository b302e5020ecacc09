#include "calculator.h"
#include "mailbox_layout.h"

#include <QCryptographicHash>
#include <QtTest>

#include <cerrno>
#include <vector>

// The emulated calculator on its own, driven as the kernel would drive it from the updater.

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::uint64_t kFileOffset = 0x100000;

Bytes Command(std::uint32_t code, std::uint32_t parameter)
{
    Bytes sector(kSectorSize);
    EncodeCommand(sector.data(), {code, parameter});
    return sector;
}

Bytes Noise(std::size_t size, unsigned seed)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>((i * 131 + seed * 17 + i / 251) & 0xff);
    }
    return bytes;
}

QByteArray Sha(const Bytes& bytes)
{
    return QCryptographicHash::hash(
        QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size())),
        QCryptographicHash::Sha256);
}

struct Rig {
    explicit Rig(CalculatorBehaviour behaviour = {}, std::vector<FileRegion> files = {})
        : calculator("ZT1", 8 << 20, std::move(files), std::move(behaviour),
                     std::chrono::steady_clock::now())
    {
        calculator.SetPresent(true);
    }
    int Write(std::uint64_t offset, const Bytes& bytes)
    {
        return calculator.Write(offset, bytes.size(), bytes.data());
    }
    Bytes Read(std::uint64_t offset, std::size_t length, int* result = nullptr)
    {
        Bytes bytes(length);
        const int got = calculator.Read(offset, length, bytes.data());
        if (result != nullptr) {
            *result = got;
        }
        return bytes;
    }
    // What the updater does before progress 0 and after progress 100.
    void AreaRead(bool longForm) { Read(kMailboxOffset, longForm ? 15872 : 15360); }
    std::uint32_t Exchange(std::uint32_t code, std::uint32_t parameter)
    {
        Write(kMailboxOffset, Command(code, parameter));
        return ReadLe32(Read(kMailboxOffset, kSectorSize).data() + 12);
    }
    Calculator calculator;
};

} // namespace

class TestCalculator : public QObject {
    Q_OBJECT
private slots:
    void commandGetsItsReply();
    void dataOverTheMailboxSectorIsStored();
    void transfersOpenWithAnAreaReadAndProgressZero();
    void refusedCommandsAreOneStepSentSixTimes();
    void completedTransferIsCheckedAgainstTheFile();
    void writeFaultsFailThenPass();
    void pulledRightAfterTheWriteHoldingTheByte();
    void finishCommandAndLeaving();
    void changesOutsideTheFilesShow();
};

void TestCalculator::commandGetsItsReply()
{
    Rig rig;
    const Bytes before = rig.Read(kMailboxOffset, kSectorSize);
    QCOMPARE(rig.Exchange(kCmdProgress, 50), kReplyFlag | kCmdProgress);
    QCOMPARE(ReadLe32(rig.Read(kMailboxOffset, kSectorSize).data() + 16), 50u);
    // An unknown command is answered without the accepted flag.
    QCOMPARE(rig.Exchange(0x1234, 0), 0x1234u);
    // The reply is no data: the disk's own bytes are still there once data replaces it.
    const Bytes data = Noise(kSectorSize, 3);
    QCOMPARE(rig.Write(kMailboxOffset, data), 0);
    QVERIFY(rig.Read(kMailboxOffset, kSectorSize) == data);
    QVERIFY(before != data);
}

void TestCalculator::dataOverTheMailboxSectorIsStored()
{
    Rig rig;
    rig.AreaRead(false);
    rig.Exchange(kCmdProgress, 0);
    // A chunk of an image written at 0 runs across the mailbox sector: it is data.
    const Bytes chunk = Noise(16384, 1);
    QCOMPARE(rig.Write(81920, chunk), 0);
    QVERIFY(rig.Read(81920, chunk.size()) == chunk);
    // A command written with data around it: the data is stored, the command taken.
    Bytes mixed = Noise(2048, 2);
    const Bytes command = Command(kCmdProgress, 7);
    std::copy(command.begin(), command.end(), mixed.begin() + 512);
    QCOMPARE(rig.Write(kMailboxOffset - 512, mixed), 0);
    QCOMPARE(ReadLe32(rig.Read(kMailboxOffset, kSectorSize).data() + 16), 7u);
    QVERIFY(rig.Read(kMailboxOffset + 512, 1024) == Bytes(mixed.begin() + 1024, mixed.end()));
    const CalculatorState state = rig.calculator.State();
    QCOMPARE(state.transfers.size(), std::size_t(1));
    QCOMPARE(state.transfers[0].progress.size(), std::size_t(2));
    QVERIFY(state.transfers[0].written.Covers(81920, 98304));
    QCOMPARE(state.strayWrites, 0u);
}

void TestCalculator::transfersOpenWithAnAreaReadAndProgressZero()
{
    Rig rig;
    QCOMPARE(rig.Write(kFileOffset, Noise(512, 1)), 0); // before any transfer
    for (int transfer = 0; transfer < 2; ++transfer) {
        rig.AreaRead(false);
        rig.Exchange(kCmdProgress, 0);
        rig.Write(kFileOffset + transfer * 65536, Noise(16384, transfer));
        rig.Exchange(kCmdProgress, 50);
    }
    const CalculatorState state = rig.calculator.State();
    QCOMPARE(state.strayWrites, 1u);
    QCOMPARE(state.transfers.size(), std::size_t(2));
    QCOMPARE(state.transfers[1].written.Lowest(), kFileOffset + 65536);
    QVERIFY(!state.transfers[0].completed);
    QCOMPARE(state.events.front().kind, MailboxEvent::AreaRead);
    QCOMPARE(state.events.front().parameter, 15360u);
}

void TestCalculator::refusedCommandsAreOneStepSentSixTimes()
{
    CalculatorBehaviour refusing;
    refusing.refuseProgress = true;
    Rig rig(refusing);
    rig.AreaRead(false);
    for (std::uint32_t percent : {0u, 60u, 100u}) {
        for (int attempt = 0; attempt < 6; ++attempt) {
            QCOMPARE(rig.Exchange(kCmdProgress, percent), kCmdProgress);
        }
        rig.Write(kFileOffset, Noise(512, percent));
    }
    const CalculatorState state = rig.calculator.State();
    QCOMPARE(state.transfers.size(), std::size_t(1));
    const std::vector<ProgressStep>& steps = state.transfers[0].progress;
    QCOMPARE(steps.size(), std::size_t(3));
    for (const ProgressStep& step : steps) {
        QCOMPARE(step.times, 6);
        QVERIFY(!step.accepted);
    }
    QVERIFY(state.transfers[0].completed);
}

void TestCalculator::completedTransferIsCheckedAgainstTheFile()
{
    const Bytes file = Noise(40000, 9); // ends inside a sector
    Rig rig({}, {{"ZENTA_KESTOL.DAT", kFileOffset, file.size(), Sha(file)}});
    rig.AreaRead(false);
    rig.Exchange(kCmdProgress, 0);
    rig.Write(kFileOffset, Bytes(file.begin(), file.begin() + 16384));
    rig.Write(kFileOffset + 16384, Bytes(file.begin() + 16384, file.begin() + 32768));
    // The tail as the host writes it: the last sector read, patched and written whole.
    const std::uint64_t tail = kFileOffset + 32768;
    Bytes last = rig.Read(tail, 7680);
    std::copy(file.begin() + 32768, file.end(), last.begin());
    rig.Write(tail, last);
    rig.Exchange(kCmdProgress, 100);
    rig.AreaRead(true);
    const CalculatorState state = rig.calculator.State();
    QCOMPARE(state.transfers.size(), std::size_t(1));
    const TransferRecord& transfer = state.transfers[0];
    QVERIFY(transfer.completed);
    QCOMPARE(transfer.file, 0);
    QCOMPARE(transfer.sha256, Sha(file));
    QVERIFY(transfer.coveredWhole);
    QVERIFY(!transfer.strayBytes);
    QVERIFY(!state.changedOutsideFiles); // the rest of the last sector kept its bytes

    // The same file with one chunk missing and one byte wrong.
    Rig broken({}, {{"ZENTA_KESTOL.DAT", kFileOffset, file.size(), Sha(file)}});
    broken.AreaRead(false);
    broken.Exchange(kCmdProgress, 0);
    Bytes wrong(file.begin(), file.begin() + 16384);
    wrong[100] ^= 1;
    broken.Write(kFileOffset, wrong);
    broken.Exchange(kCmdProgress, 100);
    const TransferRecord bad = broken.calculator.State().transfers[0];
    QVERIFY(bad.sha256 != Sha(file));
    QVERIFY(!bad.coveredWhole);
}

void TestCalculator::writeFaultsFailThenPass()
{
    CalculatorBehaviour flaky;
    flaky.writeFaults = {{kFileOffset + 100, 2}};
    Rig rig(flaky);
    rig.AreaRead(false);
    rig.Exchange(kCmdProgress, 0);
    const Bytes chunk = Noise(16384, 4);
    QCOMPARE(rig.Write(kFileOffset + 16384, chunk), 0); // does not hold the byte
    QCOMPARE(rig.Write(kFileOffset, chunk), -EIO);
    QCOMPARE(rig.Write(kFileOffset, chunk), -EIO);
    QCOMPARE(rig.Write(kFileOffset, chunk), 0);
    QVERIFY(rig.Read(kFileOffset, chunk.size()) == chunk);
    QCOMPARE(rig.calculator.State().transfers[0].failedWrites, 2u);

    CalculatorBehaviour broken;
    broken.writeFaults = {{kFileOffset, -1}};
    Rig dead(broken);
    for (int attempt = 0; attempt < 50; ++attempt) {
        QCOMPARE(dead.Write(kFileOffset, chunk), -EIO);
    }
}

void TestCalculator::pulledRightAfterTheWriteHoldingTheByte()
{
    CalculatorBehaviour pulled;
    pulled.pullAtOffset = kFileOffset + 20000;
    Rig rig(pulled);
    const Bytes chunk = Noise(16384, 5);
    QCOMPARE(rig.Write(kFileOffset, chunk), 0);
    QVERIFY(!rig.calculator.TakePulled());
    QCOMPARE(rig.Write(kFileOffset + 16384, chunk), 0);
    QVERIFY(rig.calculator.TakePulled());
    QVERIFY(!rig.calculator.TakePulled());
    int result = 0;
    rig.Read(0, 512, &result);
    QCOMPARE(result, -EIO);
    QCOMPARE(rig.Write(kFileOffset + 32768, chunk), -EIO);
    QCOMPARE(rig.calculator.State().ioWhileAway, 2u);
    // Plugged in again it works, and is not pulled a second time.
    rig.calculator.SetPresent(true);
    QCOMPARE(rig.Write(kFileOffset + 16384, chunk), 0);
    QVERIFY(!rig.calculator.TakePulled());
    QVERIFY(rig.Read(kFileOffset + 16384, chunk.size()) == chunk);
}

void TestCalculator::finishCommandAndLeaving()
{
    Rig rig;
    QVERIFY(!rig.calculator.FinishedFor(0));
    rig.AreaRead(false);
    QCOMPARE(rig.Write(kMailboxOffset, Command(kCmdFinish, 0)), 0);
    QVERIFY(rig.calculator.FinishedFor(0));
    QVERIFY(!rig.calculator.FinishedFor(100));
    rig.Write(kFileOffset, Noise(512, 6));
    const CalculatorState state = rig.calculator.State();
    QVERIFY(state.finishAt.has_value());
    QCOMPARE(state.writesAfterFinish, 1u);
    QCOMPARE(state.events.back().code, kCmdFinish);
    QVERIFY(state.transfers.empty());
    // Back in update mode, it takes a finish command again: it leaves for each one it takes,
    // while the record keeps the first.
    QCOMPARE(rig.calculator.Finishes(), 1);
    QCOMPARE(rig.Write(kMailboxOffset, Command(kCmdFinish, 0)), 0);
    QCOMPARE(rig.calculator.Finishes(), 2);
    QCOMPARE(rig.calculator.State().finishAt, state.finishAt);
}

void TestCalculator::changesOutsideTheFilesShow()
{
    Rig rig({}, {{"ZENTA_OS.ROM", 0, 4096, QByteArray()}});
    // Bytes written as they were change nothing.
    QCOMPARE(rig.Write(65536, rig.Read(65536, 4096)), 0);
    QCOMPARE(rig.Write(1000, Noise(3000, 7)), 0); // inside the file
    QVERIFY(!rig.calculator.State().changedOutsideFiles);
    Bytes one = rig.Read(70000, 1);
    one[0] ^= 0x40;
    QCOMPARE(rig.Write(70000, one), 0);
    QCOMPARE(rig.calculator.State().changedOutsideFiles.value_or(0), 70000u);
}

QTEST_GUILESS_MAIN(TestCalculator)
#include "tst_calculator.moc"
