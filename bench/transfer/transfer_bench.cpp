// Prints what writing a firmware file costs: the engine's RunTransfer onto a loop device shown to
// it as a calculator, against dd writing the same 16 KiB chunks with the same unbuffered,
// write-through I/O at the same offset (dd makes no mailbox exchanges); and the fixed cost of a
// transfer outside its data. Needs root for the loop device.

#include "loop_calculator_host.h"

#include "device/engine.h"
#include "device/linux_disk_paths.h"
#include "device/text16.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QVector>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr qint64 kDiskBytes = 96 << 20;
constexpr qint64 kOffset = 0x500000;
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
    process.start(program, arguments);
    *ok = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
          process.exitCode() == 0;
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
    double wholeSeconds;
    double dataSeconds;
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
    out->dataSeconds = host.DataSeconds();
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
         "seek=" + QString::number(kOffset / 16384), "conv=notrunc", "status=none"},
        &ok);
    *seconds = timer.nsecsElapsed() / 1e9;
    return ok;
}

void PrintRow(const char* what, const Stats& s, const char* unit)
{
    std::printf("| %-44s | %9.2f | %9.2f | %9.2f | %-5s |\n", what, s.median, s.min, s.max, unit);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int runs = std::max(5, args.size() > 1 ? args[1].toInt() : 5);
    const qint64 fileBytes = 32 << 20;
    if (geteuid() != 0) {
        std::printf("transfer_bench: skipped, a loop device needs root\n");
        return 0;
    }
    QTemporaryDir dir(QDir::tempPath() + "/quillon-bench-XXXXXX");
    const QString image = dir.filePath("disk.img");
    const QString big = dir.filePath("ZENTA_OS.ROM"), empty = dir.filePath("empty.rom"),
                  small = dir.filePath("small.rom");
    bool ok = dir.isValid() && WriteRandomFile(image, kDiskBytes) &&
              WriteRandomFile(big, fileBytes) && WriteRandomFile(empty, 0) &&
              WriteRandomFile(small, 16384);
    const QString loop = ok ? Run("losetup", {"-f", "--show", "--direct-io=on", image}, &ok) : "";
    if (!ok) {
        std::fprintf(stderr, "transfer_bench: could not set up the loop device\n");
        return 1;
    }
    LoopCalculatorHost host(NativePathOf(loop));
    SetHost(&host);

    QVector<double> engineData, engineWhole, ddWhole, ratioData, ratioWhole, fixedEmpty, fixedSmall;
    const double mb = fileBytes / 1e6;
    for (int i = 0; i < runs && ok; ++i) {
        Transfer engine{}, none{}, one{};
        double dd = 0;
        ok = RunEngine(host, big, &engine) && RunDd(big, loop, &dd) &&
             RunEngine(host, empty, &none) && RunEngine(host, small, &one);
        engineData << mb / engine.dataSeconds;
        engineWhole << mb / engine.wholeSeconds;
        ddWhole << mb / dd;
        ratioData << (mb / engine.dataSeconds) / (mb / dd) * 100;
        ratioWhole << (mb / engine.wholeSeconds) / (mb / dd) * 100;
        fixedEmpty << none.wholeSeconds * 1000 - kDesignedPauseMs;
        fixedSmall << (one.wholeSeconds - one.dataSeconds) * 1000 - kDesignedPauseMs;
    }
    SetHost(nullptr);
    bool detached = false;
    Run("losetup", {"-d", loop}, &detached);
    if (!ok)
        return 1;

    std::printf("Transfer of a 32 MiB file onto a loop device (%s, direct I/O), %d runs\n\n",
                qPrintable(loop), runs);
    std::printf("| %-44s | %9s | %9s | %9s | %-5s |\n", "measure", "median", "min", "max", "unit");
    std::printf("|%s|%s|%s|%s|%s|\n", "----------------------------------------------",
                "-----------", "-----------", "-----------", "-------");
    PrintRow("dd bs=16K oflag=direct,dsync", Summarize(ddWhole), "MB/s");
    PrintRow("RunTransfer, data phase", Summarize(engineData), "MB/s");
    PrintRow("RunTransfer, whole transfer", Summarize(engineWhole), "MB/s");
    PrintRow("data phase against dd", Summarize(ratioData), "%");
    PrintRow("whole transfer against dd", Summarize(ratioWhole), "%");
    PrintRow("0-byte file: beyond the designed 400 ms", Summarize(fixedEmpty), "ms");
    PrintRow("16 KiB file: outside data, beyond 400 ms", Summarize(fixedSmall), "ms");
    return 0;
}
