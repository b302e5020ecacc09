// Prints what writing a firmware file costs: the engine's RunTransfer against dd writing the same
// 16 KiB chunks with the same unbuffered, write-through I/O at the same offset of the same disk
// (dd makes no mailbox exchanges), what the progress exchanges cost, and the fixed cost of a
// transfer outside its data. Then what proving the bytes costs: RunCheckedTransfer, which
// digests every byte it writes, against RunTransfer and dd on a 25 MiB applications image; and
// the check of a whole update set before its first byte (every file read whole and digested).
//
//   transfer_bench [loop] [RUNS]   onto a loop device over a temporary file (needs root)
//   transfer_bench emulated [RUNS] onto the first calculator of a zenta-emu test bed
//   transfer_bench checked [RUNS]  only the checked transfer against RunTransfer and dd, there
//   transfer_bench many [RUNS]     one RunTransfer onto every calculator of the test bed
//   transfer_bench check [RUNS]    the update set's check and SHA-256 alone, no disk written
// emulated, checked and many run inside `zenta-emu ... --run`, which names the calculators'
// nodes in ZENTA_EMU_NODES.

#include "bench_common.h"
#include "loop_calculator_host.h"

#include "device/engine.h"
#include "device/linux_disk_paths.h"
#include "device/sha256.h"
#include "device/text16.h"
#include "update/update_set.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QVector>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 kDiskBytes = 96 << 20;
constexpr qint64 kFileBytes = 32 << 20;
constexpr qint64 kOffset = 0x500000;
constexpr qint64 kChunk = 16384;
constexpr int kDesignedPauseMs = 400; // four 100 ms pauses around a successful transfer's data
// An update set as it comes: sizes that are no multiple of a sector or a chunk, each image at
// its place on the calculator.
constexpr qint64 kAppBytes = (25 << 20) + 37;
constexpr qint64 kOsBytes = (900 << 10) + 13;
constexpr qint64 kKestolBytes = (3 << 20) + 29;
constexpr qint64 kKestolOffset = 0x100000;
constexpr double kCheckedGoal = 97; // checked data phase against the unchecked one, in %

QString Run(const QString& program, const QStringList& arguments, bool* ok)
{
    QProcess process;
    // Programs of the machine reach the disks directly, not through a test bed's preload.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("LD_PRELOAD");
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    *ok = process.waitForFinished(300000) && process.exitStatus() == QProcess::NormalExit &&
          process.exitCode() == 0;
    if (!*ok)
        std::fprintf(stderr, "%s: %s\n", qPrintable(program),
                     process.readAllStandardError().constData());
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

bool WriteRandomFile(const QString& path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, 0);
    quint32 state = 12345;
    for (qint64 done = 0; done < size; done += block.size()) {
        for (char& c : block) {
            state = state * 1103515245u + 12345u;
            c = char(state >> 16);
        }
        const qint64 n = std::min<qint64>(block.size(), size - done);
        if (file.write(block.constData(), n) != n)
            return false;
    }
    return true;
}

// The native host's path of a loop device, as its enumeration lists it.
std::string NativePathOf(const QString& node)
{
    LinuxDiskInfo info;
    info.location = "/sys/devices/virtual/block/" + QFileInfo(node).fileName().toStdString();
    return DiskInterfacePathOf(info);
}

struct Transfer {
    double wholeSeconds = 0;
    LoopCalculatorHost::Counts counts;
};

const String16 kVendor = Utf8ToUtf16("KZ");
const String16 kProduct = Utf8ToUtf16("Zenta update");

// RunTransfer, or RunCheckedTransfer when `expected` is given.
bool RunEngine(LoopCalculatorHost& host, const QString& file, Transfer* out,
               const SourceDigest* expected = nullptr)
{
    host.ResetTimes();
    const String16 path = Utf8ToUtf16(file.toStdString());
    QElapsedTimer timer;
    timer.start();
    const int result = expected != nullptr
                           ? RunCheckedTransfer(kVendor.c_str(), kProduct.c_str(), path.c_str(),
                                                kOffset, expected, nullptr, nullptr)
                           : RunTransfer(kVendor.c_str(), kProduct.c_str(), path.c_str(), kOffset,
                                         nullptr, nullptr);
    out->wholeSeconds = timer.nsecsElapsed() / 1e9;
    out->counts = host.Taken();
    if (result != kResultOk)
        std::fprintf(stderr, "%s gave %d\n",
                     expected != nullptr ? "RunCheckedTransfer" : "RunTransfer", result);
    return result == kResultOk;
}

bool RunDd(const QString& file, const QString& device, double* seconds)
{
    QElapsedTimer timer;
    timer.start();
    bool ok = false;
    Run("dd",
        {"if=" + file, "of=" + device, "bs=16K", "oflag=direct,dsync",
         "seek=" + QString::number(kOffset / kChunk), "conv=notrunc", "status=none"},
        &ok);
    *seconds = timer.nsecsElapsed() / 1e9;
    return ok;
}

struct Files {
    QString big, empty, small, app;
};

bool MakeFiles(const QTemporaryDir& dir, Files* files)
{
    files->big = dir.filePath("image32.dat");
    files->empty = dir.filePath("empty.rom");
    files->small = dir.filePath("small.rom");
    files->app = dir.filePath("ZENTA_APP.DAT");
    return dir.isValid() && WriteRandomFile(files->big, kFileBytes) &&
           WriteRandomFile(files->empty, 0) && WriteRandomFile(files->small, kChunk) &&
           WriteRandomFile(files->app, kAppBytes);
}

String16 PathOf(const QString& file)
{
    return Utf8ToUtf16(file.toStdString());
}

// Seconds that SHA-256 takes over `data` fed in chunks, as the engine feeds it; the digest goes
// to `sum` so that the work cannot be left out.
double DigestSeconds(const QByteArray& data, unsigned char sum[32])
{
    QElapsedTimer timer;
    timer.start();
    Sha256 context;
    Sha256Init(&context);
    for (qint64 done = 0; done < data.size(); done += kChunk)
        Sha256Update(&context, data.constData() + done,
                     static_cast<std::size_t>(std::min<qint64>(kChunk, data.size() - done)));
    Sha256Final(&context, sum);
    return timer.nsecsElapsed() / 1e9;
}

// RunTransfer against dd on one disk, and the fixed cost of a transfer; `where` names the disk.
bool CompareWithDd(LoopCalculatorHost& host, const Files& files, const QString& device,
                   const QString& where, int runs)
{
    QVector<double> engineData, engineWhole, ddWhole, ratioData, ratioWhole, ratioBare, exchanges,
        writeMs, readMs, chunkMs, ddChunkMs, fixedEmpty, fixedSmall;
    const double mb = kFileBytes / 1e6;
    for (int i = 0; i < runs; ++i) {
        Transfer engine, none, one;
        double dd = 0;
        if (!RunEngine(host, files.big, &engine) || !RunDd(files.big, device, &dd) ||
            !RunEngine(host, files.empty, &none) || !RunEngine(host, files.small, &one))
            return false;
        const LoopCalculatorHost::Counts& c = engine.counts;
        engineData << mb / c.dataSeconds;
        engineWhole << mb / engine.wholeSeconds;
        ddWhole << mb / dd;
        ratioData << dd / c.dataSeconds * 100;
        ratioWhole << dd / engine.wholeSeconds * 100;
        ratioBare << dd / (c.dataSeconds - c.mailboxSecondsInData) * 100;
        exchanges << c.mailboxWrites;
        writeMs << c.mailboxWriteSeconds * 1000 / std::max(1, c.mailboxWrites);
        readMs << c.mailboxReadSeconds * 1000 / std::max(1, c.mailboxReads);
        chunkMs << (c.dataSeconds - c.mailboxSecondsInData) * 1000 / std::max(1, c.dataWrites);
        ddChunkMs << dd * 1000 / (kFileBytes / kChunk);
        fixedEmpty << none.wholeSeconds * 1000 - kDesignedPauseMs;
        fixedSmall << (one.wholeSeconds - one.counts.dataSeconds) * 1000 - kDesignedPauseMs;
    }
    std::printf("Transfer of a 32 MiB file onto %s, against dd at the same offset, %d runs\n\n",
                qPrintable(where), runs);
    PrintHeader();
    PrintRow("dd bs=16K oflag=direct,dsync", ddWhole, "MB/s");
    PrintRow("RunTransfer, data phase", engineData, "MB/s");
    PrintRow("RunTransfer, whole transfer", engineWhole, "MB/s");
    PrintRow("data phase against dd", ratioData, "%");
    PrintRow("whole transfer against dd", ratioWhole, "%");
    PrintRow("data phase less its progress exchanges, against dd", ratioBare, "%");
    PrintRow("progress exchanges per transfer", exchanges, "count");
    PrintRow("progress command write (512 B)", writeMs, "ms");
    PrintRow("progress reply read (512 B)", readMs, "ms");
    PrintRow("RunTransfer 16 KiB chunk write", chunkMs, "ms");
    PrintRow("dd 16 KiB chunk write", ddChunkMs, "ms");
    PrintRow("0-byte file: beyond the designed 400 ms", fixedEmpty, "ms");
    PrintRow("16 KiB file: outside data, beyond 400 ms", fixedSmall, "ms");
    return true;
}

// RunCheckedTransfer against RunTransfer and dd with the 25 MiB applications image, on the same
// disk. The three alternate their order from run to run, so that a disk that speeds up or slows
// down over the runs favours neither; the ratios are taken within each run.
bool CompareChecked(LoopCalculatorHost& host, const Files& files, const QString& device,
                    const QString& where, int runs)
{
    SourceDigest expected;
    if (DigestSourceFile(PathOf(files.app).c_str(), &expected) != kResultOk ||
        expected.size != kAppBytes) {
        std::fprintf(stderr, "transfer_bench: cannot digest %s\n", qPrintable(files.app));
        return false;
    }
    QFile appFile(files.app);
    const QByteArray bytes = appFile.open(QIODevice::ReadOnly) ? appFile.readAll() : QByteArray();
    unsigned char sum[32] = {};
    if (bytes.size() == kAppBytes)
        DigestSeconds(bytes, sum);
    if (bytes.size() != kAppBytes || std::memcmp(sum, expected.sha256, sizeof sum) != 0) {
        std::fprintf(stderr, "transfer_bench: the file's digest differs from the engine's\n");
        return false;
    }
    // A transfer whose bytes are not the ones digested must fail: otherwise the checked runs
    // would not be doing the work they are timed for.
    SourceDigest wrong = expected;
    wrong.chunks.back().sha256[31] ^= 1;
    if (RunCheckedTransfer(kVendor.c_str(), kProduct.c_str(), PathOf(files.app).c_str(), kOffset,
                           &wrong, nullptr, nullptr) != kResultSourceRead) {
        std::fprintf(stderr, "transfer_bench: a wrong digest was not refused\n");
        return false;
    }

    QVector<double> ddRate, plainData, checkedData, plainVsDd, checkedVsDd, checkedVsPlain,
        wholeVsPlain, shaRate, shaShare, plainGap, checkedGap;
    // What the writer does between two data writes besides the progress exchanges: the source's
    // read and digest when they sit on the write's path.
    const auto gapMicroseconds = [](const Transfer& t) {
        const LoopCalculatorHost::Counts& c = t.counts;
        return (c.dataSeconds - c.dataWriteSeconds - c.mailboxSecondsInData) * 1e6 /
               std::max(1, c.dataWrites - 1);
    };
    const double mb = kAppBytes / 1e6;
    for (int i = 0; i < runs; ++i) {
        Transfer plain, checked;
        double dd = 0;
        const bool plainFirst = i % 2 == 0;
        if (!(plainFirst ? RunEngine(host, files.app, &plain)
                         : RunEngine(host, files.app, &checked, &expected)) ||
            !RunDd(files.app, device, &dd) ||
            !(plainFirst ? RunEngine(host, files.app, &checked, &expected)
                         : RunEngine(host, files.app, &plain)))
            return false;
        const double plainSeconds = plain.counts.dataSeconds;
        const double checkedSeconds = checked.counts.dataSeconds;
        ddRate << mb / dd;
        plainData << mb / plainSeconds;
        checkedData << mb / checkedSeconds;
        plainVsDd << dd / plainSeconds * 100;
        checkedVsDd << dd / checkedSeconds * 100;
        checkedVsPlain << plainSeconds / checkedSeconds * 100;
        wholeVsPlain << plain.wholeSeconds / checked.wholeSeconds * 100;
        plainGap << gapMicroseconds(plain);
        checkedGap << gapMicroseconds(checked);
        const double sha = DigestSeconds(bytes, sum);
        shaRate << mb / sha;
        shaShare << sha / checkedSeconds * 100;
    }
    std::printf("\nRunCheckedTransfer of a 25 MiB + 37 B applications image onto %s, against "
                "RunTransfer and dd, %d runs\n\n",
                qPrintable(where), runs);
    PrintHeader();
    PrintRow("25 MiB: dd bs=16K oflag=direct,dsync", ddRate, "MB/s");
    PrintRow("25 MiB: RunTransfer, data phase", plainData, "MB/s");
    PrintRow("25 MiB: RunCheckedTransfer, data phase", checkedData, "MB/s");
    PrintRow("25 MiB: RunTransfer data phase against dd", plainVsDd, "%");
    PrintRow("25 MiB: RunCheckedTransfer data phase against dd", checkedVsDd, "%");
    PrintRow(QString("25 MiB: checked/unchecked, data phase (goal >= %1%)").arg(kCheckedGoal),
             checkedVsPlain, "%");
    PrintRow("25 MiB: checked/unchecked, whole transfer", wholeVsPlain, "%");
    PrintRow("25 MiB: SHA-256 alone, in memory, 16 KiB pieces", shaRate, "MB/s");
    PrintRow("25 MiB: SHA-256 alone, share of the checked data phase", shaShare, "%");
    PrintRow("25 MiB: RunTransfer, between two data writes", plainGap, "us");
    PrintRow("25 MiB: RunCheckedTransfer, between two data writes", checkedGap, "us");
    return true;
}

int LoopMode(int runs)
{
    if (geteuid() != 0) {
        std::printf("transfer_bench: skipped, a loop device needs root\n");
        return 77;
    }
    QTemporaryDir dir(QDir::tempPath() + "/quillon-bench-XXXXXX");
    Files files;
    const QString image = dir.filePath("disk.img");
    bool ok = MakeFiles(dir, &files) && WriteRandomFile(image, kDiskBytes);
    const QString loop = ok ? Run("losetup", {"-f", "--show", "--direct-io=on", image}, &ok) : "";
    if (!ok) {
        std::fprintf(stderr, "transfer_bench: could not set up the loop device\n");
        return 1;
    }
    LoopCalculatorHost host(NativePathOf(loop));
    SetHost(&host);
    const QString where =
        "a loop device (" + loop + ", direct I/O) over a file in " + QDir::tempPath();
    ok = CompareWithDd(host, files, loop, where, runs) &&
         CompareChecked(host, files, loop, where, runs);
    SetHost(nullptr);
    bool detached = false;
    Run("losetup", {"-d", loop}, &detached);
    return ok ? 0 : 1;
}

// Drops a file's pages from the page cache, so that the next read comes from the disk; false
// when the kernel would not. Written pages must reach the disk before they can be dropped.
bool DropFromCache(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = fdatasync(fd) == 0 && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    ::close(fd);
    return ok;
}

// Share of a file's pages in the page cache, in %; -1 when it cannot be told.
double CachedShare(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0)
        return -1;
    uchar* map = file.map(0, file.size());
    if (map == nullptr)
        return -1;
    const long page = sysconf(_SC_PAGESIZE);
    const qint64 pages = (file.size() + page - 1) / page;
    std::vector<unsigned char> resident(static_cast<std::size_t>(pages));
    double share = -1;
    if (mincore(map, static_cast<std::size_t>(file.size()), resident.data()) == 0) {
        const auto in = std::count_if(resident.begin(), resident.end(),
                                      [](unsigned char r) { return (r & 1) != 0; });
        share = 100.0 * in / pages;
    }
    file.unmap(map);
    return share;
}

// Seconds to read a file whole in chunks, as the engine reads it, without digesting it.
double ReadSeconds(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    std::vector<char> chunk(kChunk);
    QElapsedTimer timer;
    timer.start();
    ssize_t got = 0;
    while ((got = ::read(fd, chunk.data(), kChunk)) > 0) {
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    ::close(fd);
    return got == 0 ? seconds : -1;
}

struct SetFile {
    const char* name;
    qint64 bytes;
    qint64 offset;
    qint64 placeEnd;
};

// The three images of an update of the newer generation, at their places on the calculator.
constexpr SetFile kSet[] = {
    {"ZENTA_OS.ROM", kOsBytes, 0, kKestolOffset},
    {"ZENTA_KESTOL.DAT", kKestolBytes, kKestolOffset, kOffset},
    {"ZENTA_APP.DAT", kAppBytes, kOffset, -1},
};

// The check of an update set before its first byte, as the worker runs it: the sizes of the
// calculators' disks, then every file read whole and digested. Each file is digested apart
// too, from the page cache and from the disk (its pages dropped first); and SHA-256 alone over
// the applications image in memory, the floor of any of these.
int CheckMode(int runs)
{
    QTemporaryDir dir(QDir::tempPath() + "/quillon-bench-XXXXXX");
    QVector<UpdateSetEntry> set;
    qint64 setBytes = 0;
    bool ok = dir.isValid();
    for (const SetFile& file : kSet) {
        const QString path = dir.filePath(file.name);
        ok = ok && WriteRandomFile(path, file.bytes);
        set.append({path, file.name, file.offset, file.placeEnd});
        setBytes += file.bytes;
    }
    QFile appFile(set.last().path);
    const QByteArray app =
        ok && appFile.open(QIODevice::ReadOnly) ? appFile.readAll() : QByteArray();
    if (!ok || app.size() != kAppBytes) {
        std::fprintf(stderr, "transfer_bench check: cannot write the update set\n");
        return 1;
    }
    const int count = set.size();
    QVector<QVector<double>> warmMs(count), coldMs(count), warmRate(count), coldRate(count);
    QVector<double> shaRate, readRate, setWarmMs, setColdMs, setWarmRate, setColdRate, sizesMs,
        leftCached;
    int disks = 0;
    for (int run = 0; run < runs; ++run) {
        unsigned char sum[32];
        shaRate << kAppBytes / 1e6 / DigestSeconds(app, sum);
        const double read = DropFromCache(set.last().path) ? ReadSeconds(set.last().path) : -1;
        if (read <= 0) {
            std::fprintf(stderr, "transfer_bench check: cannot read %s\n", kSet[count - 1].name);
            return 1;
        }
        readRate << kAppBytes / 1e6 / read;
        for (int i = 0; i < count; ++i) {
            const String16 path = PathOf(set[i].path);
            const double mb = kSet[i].bytes / 1e6;
            for (bool cold : {true, false}) {
                if (cold && !DropFromCache(set[i].path)) {
                    std::fprintf(stderr, "transfer_bench check: cannot drop %s from the cache\n",
                                 kSet[i].name);
                    return 1;
                }
                if (cold)
                    leftCached << CachedShare(set[i].path);
                SourceDigest digest;
                QElapsedTimer timer;
                timer.start();
                const int result = DigestSourceFile(path.c_str(), &digest);
                const double seconds = timer.nsecsElapsed() / 1e9;
                if (result != kResultOk || digest.size != kSet[i].bytes ||
                    (i == count - 1 && std::memcmp(digest.sha256, sum, sizeof sum) != 0)) {
                    std::fprintf(stderr, "transfer_bench check: %s: digest gave %d\n", kSet[i].name,
                                 result);
                    return 1;
                }
                (cold ? coldMs : warmMs)[i] << seconds * 1000;
                (cold ? coldRate : warmRate)[i] << mb / seconds;
            }
        }
        for (bool cold : {true, false}) {
            for (const UpdateSetEntry& entry : set)
                ok = ok && (!cold || DropFromCache(entry.path));
            QElapsedTimer timer;
            timer.start();
            const QVector<std::int64_t> sizes =
                calculatorDiskSizes(kVendor.c_str(), kProduct.c_str());
            const double sizesSeconds = timer.nsecsElapsed() / 1e9;
            const UpdateSetCheck check = checkUpdateSet(set, sizes);
            const double seconds = timer.nsecsElapsed() / 1e9;
            if (!ok || check.result != kResultOk || check.digests.size() != count ||
                std::memcmp(check.digests.last().sha256, sum, sizeof sum) != 0) {
                std::fprintf(stderr, "transfer_bench check: the set check gave %d (%s)\n",
                             check.result, qPrintable(check.reason));
                return 1;
            }
            disks = sizes.size();
            sizesMs << sizesSeconds * 1000;
            (cold ? setColdMs : setWarmMs) << seconds * 1000;
            (cold ? setColdRate : setWarmRate) << setBytes / 1e6 / seconds;
        }
    }
    std::printf("Check of an update set before its first byte (files in %s), %d runs\n\n",
                qPrintable(QDir::tempPath()), runs);
    PrintHeader();
    PrintRow("SHA-256 alone, 25 MiB in memory, 16 KiB pieces", shaRate, "MB/s");
    PrintRow("ZENTA_APP.DAT read alone, 16 KiB pieces, cold", readRate, "MB/s");
    for (int i = 0; i < count; ++i) {
        const QString what =
            QString("DigestSourceFile %1 (%2 KiB)").arg(kSet[i].name).arg(kSet[i].bytes / 1024);
        PrintRow(what + ", cached", warmMs[i], "ms");
        PrintRow(what + ", cached", warmRate[i], "MB/s");
        PrintRow(what + ", cold", coldMs[i], "ms");
        PrintRow(what + ", cold", coldRate[i], "MB/s");
    }
    const QString whole =
        QString("whole set (disk sizes + checkUpdateSet), %1 KiB").arg(setBytes / 1024);
    PrintRow(whole + ", cached", setWarmMs, "ms");
    PrintRow(whole + ", cached", setWarmRate, "MB/s");
    PrintRow(whole + ", cold", setColdMs, "ms");
    PrintRow(whole + ", cold", setColdRate, "MB/s");
    PrintRow(QString("disk sizes of %1 calculator(s), one search").arg(disks), sizesMs, "ms");
    PrintRow("cold: share of a file still cached after the drop", leftCached, "%");
    return 0;
}

QStringList EmulatedNodes()
{
    return QString::fromLocal8Bit(qgetenv("ZENTA_EMU_NODES")).split(' ', Qt::SkipEmptyParts);
}

// The calculators' nodes that zenta-emu --run hands over, and the files to write: 0 when both are
// there, otherwise the exit code.
int PrepareEmulated(const char* mode, const QTemporaryDir& dir, QStringList* nodes, Files* files)
{
    *nodes = EmulatedNodes();
    if (nodes->isEmpty()) {
        std::fprintf(stderr, "transfer_bench %s: run it inside zenta-emu --run\n", mode);
        return 2;
    }
    return MakeFiles(dir, files) ? 0 : 1;
}

// Onto the first emulated calculator: RunTransfer against dd, then what proving the bytes costs;
// `checkedOnly` leaves out the first (zenta-emu's bandwidth then sets the link's speed).
int EmulatedMode(const char* mode, int runs, bool checkedOnly)
{
    QTemporaryDir dir(QDir::tempPath() + "/quillon-bench-XXXXXX");
    QStringList nodes;
    Files files;
    if (const int code = PrepareEmulated(mode, dir, &nodes, &files))
        return code;
    LoopCalculatorHost host;
    SetHost(&host);
    const QString where = "an emulated calculator (" + nodes[0] + ", zenta-emu)";
    const bool ok = (checkedOnly || CompareWithDd(host, files, nodes[0], where, runs)) &&
                    CompareChecked(host, files, nodes[0], where, runs);
    SetHost(nullptr);
    return ok ? 0 : 1;
}

int ManyMode(int runs)
{
    QTemporaryDir dir(QDir::tempPath() + "/quillon-bench-XXXXXX");
    QStringList nodes;
    Files files;
    if (const int code = PrepareEmulated("many", dir, &nodes, &files))
        return code;
    const int count = nodes.size();
    LoopCalculatorHost host;
    SetHost(&host);
    QVector<double> whole, data;
    bool ok = true;
    for (int i = 0; i < runs && ok; ++i) {
        Transfer engine;
        ok = RunEngine(host, files.big, &engine) && engine.counts.dataWrites == count * 2048;
        whole << engine.wholeSeconds;
        data << engine.counts.dataSeconds;
    }
    SetHost(nullptr);
    if (!ok) {
        std::fprintf(stderr, "transfer_bench many: a transfer failed or missed a calculator\n");
        return 1;
    }
    PrintHeader();
    PrintRow(QString("RunTransfer of 32 MiB onto %1 calculator(s), whole").arg(count), whole, "s");
    PrintRow(QString("RunTransfer of 32 MiB onto %1 calculator(s), data phase").arg(count), data,
             "s");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const QString mode = !args.isEmpty() && !args[0].at(0).isDigit() ? args.takeFirst() : "loop";
    const int runs = std::max(5, args.isEmpty() ? 5 : args[0].toInt());
    if (mode == "loop")
        return LoopMode(runs);
    if (mode == "emulated")
        return EmulatedMode("emulated", runs, false);
    if (mode == "many")
        return ManyMode(runs);
    if (mode == "checked")
        return EmulatedMode("checked", runs, true);
    if (mode == "check")
        return CheckMode(runs);
    std::fprintf(stderr, "usage: transfer_bench [loop|emulated|checked|many|check] [RUNS]\n");
    return 2;
}
