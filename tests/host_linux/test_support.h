#pragma once

#include "device/host.h"
#include "device/text16.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstddef>

inline String16 ToHost(const QString& text)
{
    return String16(reinterpret_cast<const WChar*>(text.utf16()), text.size());
}

// The paths the host lists now, in its order.
inline QStringList Enumerate()
{
    Host& host = NativeHost();
    QStringList paths;
    void* list = host.BeginDiskInterfaces();
    WChar path[kDiskPathChars];
    for (int i = 0; list != nullptr; ++i) {
        InterfaceStatus status = host.DiskInterfacePath(list, i, path, kDiskPathChars);
        if (status == InterfaceStatus::End) {
            break;
        }
        if (status == InterfaceStatus::Ok) {
            paths << QString::fromUtf16(path);
        }
    }
    host.EndDiskInterfaces(list);
    return paths;
}

// Runs a tool outside any umockdev test bed; true when it exits with 0.
inline bool Run(const QString& program, const QStringList& arguments, QString* output = nullptr)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("LD_PRELOAD");
    environment.remove("UMOCKDEV_DIR");
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(30000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (output != nullptr) {
        *output = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    }
    return ok;
}

// An empty disk image of `size` bytes in `directory`: its path, or an empty string when it could
// not be made.
inline QString MakeImage(const QTemporaryDir& directory, qint64 size)
{
    const QString image = directory.filePath("disk.img");
    QFile file(image);
    return directory.isValid() && file.open(QIODevice::WriteOnly) && file.resize(size) ? image
                                                                                       : QString();
}

// A loop device over a file, detached however the test ends.
struct LoopDevice {
    QString node;      // e.g. /dev/loop3
    QByteArray devnum; // major:minor

    bool Attach(const QString& file, uint sectorSize)
    {
        QString number;
        if (!Run("losetup", {"-f", "--show", "--sector-size", QString::number(sectorSize), file},
                 &node)) {
            node.clear();
            return false;
        }
        if (!Run("cat", {"/sys/block/" + QFileInfo(node).fileName() + "/dev"}, &number)) {
            return false;
        }
        devnum = number.toLatin1();
        return true;
    }
    bool Detach()
    {
        const bool ok = node.isEmpty() || Run("losetup", {"-d", node});
        node.clear();
        return ok;
    }
    ~LoopDevice() { Detach(); }
};

inline QByteArray Pattern(std::size_t size, unsigned seed)
{
    QByteArray bytes(static_cast<int>(size), 0);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[static_cast<int>(i)] = static_cast<char>((i * 31 + seed * 7 + i / 509) & 0xff);
    }
    return bytes;
}
