// Prints what writing a firmware file costs: the engine's RunTransfer against dd writing the same
// 16 KiB chunks with the same unbuffered, write-through I/O at the same offset of the same disk
// (dd makes no mailbox exchanges), what the progress exchanges cost, and the fixed cost of a
// transfer outside its data.
//
//   transfer_bench [loop] [RUNS]   onto a loop device over a temporary file (needs root)
//   transfer_bench emulated [RUNS] onto the first calculator of a zenta-emu test bed
//   transfer_bench many [RUNS]     one RunTransfer onto every calculator of the test bed
// The last two run inside `zenta-emu ... --run`, which names the calculators' nodes in
// ZENTA_EMU_NODES.

#include "loop_calculator_host.h"

#include "device/engine.h"
#include "device/linux_disk_paths.h"
#include "device/text16.h"

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
#include <unistd.h>

namespace {

constexpr qint64 kDiskBytes = 96 << 20;
constexpr qint64 kFileBytes = 32 << 20;
constexpr qint64 kOffset = 0x500000;
constexpr qint64 kChunk = 16384;
constexpr int kDesignedPauseMs = 400; // four 100 ms pauses around a successful transfer's data

struct Stats {
    double median, min, max;
};

Stats Summarize(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.front(), values.back()};
}

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

bool RunEngine(LoopCalculatorHost& host, const QString& file, Transfer* out)
{
    host.ResetTimes();
    const String16 path = Utf8ToUtf16(file.toStdString());
    QElapsedTimer timer;
    timer.start();
    const int result = RunTransfer(Utf8ToUtf16("KZ").c_str(), Utf8ToUtf16("Zenta update").c_str(),
                                   path.c_str(), kOffset, nullptr, nullptr);
    out->wholeSeconds = timer.nsecsElapsed() / 1e9;
    out->counts = host.Taken();
    if (result != kResultOk)
        std::fprintf(stderr, "RunTransfer gave %d\n", result);
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

void PrintHeader()
{
    std::printf("| %-58s | %9s | %9s | %9s | %-5s |\n", "measure", "median", "min", "max", "unit");
    std::printf("|%s|%s|%s|%s|%s|\n",
                "------------------------------------------------------------", "-----------",
                "-----------", "-----------", "-------");
}

void PrintRow(const QString& what, const Stats& s, const char* unit)
{
    std::printf("| %-58s | %9.2f | %9.2f | %9.2f | %-5s |\n", qPrintable(what), s.median, s.min,
                s.max, unit);
}

struct Files {
    QString big, empty, small;
};

bool MakeFiles(const QTemporaryDir& dir, Files* files)
{
    files->big = dir.filePath("ZENTA_APP.DAT");
    files->empty = dir.filePath("empty.rom");
    files->small = dir.filePath("small.rom");
    return dir.isValid() && WriteRandomFile(files->big, kFileBytes) &&
           WriteRandomFile(files->empty, 0) && WriteRandomFile(files->small, kChunk);
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
    PrintRow("dd bs=16K oflag=direct,dsync", Summarize(ddWhole), "MB/s");
    PrintRow("RunTransfer, data phase", Summarize(engineData), "MB/s");
    PrintRow("RunTransfer, whole transfer", Summarize(engineWhole), "MB/s");
    PrintRow("data phase against dd", Summarize(ratioData), "%");
    PrintRow("whole transfer against dd", Summarize(ratioWhole), "%");
    PrintRow("data phase less its progress exchanges, against dd", Summarize(ratioBare), "%");
    PrintRow("progress exchanges per transfer", Summarize(exchanges), "count");
    PrintRow("progress command write (512 B)", Summarize(writeMs), "ms");
    PrintRow("progress reply read (512 B)", Summarize(readMs), "ms");
    PrintRow("RunTransfer 16 KiB chunk write", Summarize(chunkMs), "ms");
    PrintRow("dd 16 KiB chunk write", Summarize(ddChunkMs), "ms");
    PrintRow("0-byte file: beyond the designed 400 ms", Summarize(fixedEmpty), "ms");
    PrintRow("16 KiB file: outside data, beyond 400 ms", Summarize(fixedSmall), "ms");
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
    ok = CompareWithDd(
        host, files, loop,
        "a loop device (" + loop + ", direct I/O) over a file in " + QDir::tempPath(), runs);
    SetHost(nullptr);
    bool detached = false;
    Run("losetup", {"-d", loop}, &detached);
    return ok ? 0 : 1;
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

int EmulatedMode(int runs)
{
    QTemporaryDir dir(QDir::tempPath() + "/quillon-bench-XXXXXX");
    QStringList nodes;
    Files files;
    if (const int code = PrepareEmulated("emulated", dir, &nodes, &files))
        return code;
    LoopCalculatorHost host;
    SetHost(&host);
    const bool ok = CompareWithDd(host, files, nodes[0],
                                  "an emulated calculator (" + nodes[0] + ", zenta-emu)", runs);
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
    PrintRow(QString("RunTransfer of 32 MiB onto %1 calculator(s), whole").arg(count),
             Summarize(whole), "s");
    PrintRow(QString("RunTransfer of 32 MiB onto %1 calculator(s), data phase").arg(count),
             Summarize(data), "s");
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
        return EmulatedMode(runs);
    if (mode == "many")
        return ManyMode(runs);
    std::fprintf(stderr, "usage: transfer_bench [loop|emulated|many] [RUNS]\n");
    return 2;
}
