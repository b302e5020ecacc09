// Update folders: the three firmware files under their new or legacy names, folders of other
// entries, existing folders read, and the changes made to a file during a run.
#include "update_folder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct NamedRole {
    const char* fresh;
    const char* legacy;
    std::uint64_t offset;
};

const NamedRole kRoles[] = {
    {"ZENTA_OS.ROM", "QORVAARM.ROM", 0},
    {"ZENTA_KESTOL.DAT", "KESTOL.DAT", 0x100000},
    {"ZENTA_APP.DAT", "LUNAPACK.DAT", 0x500000},
};

// Contents that differ from file to file and from the calculator's earlier image.
QByteArray Contents(const std::string& name, std::uint64_t size)
{
    QByteArray bytes(static_cast<int>(size), Qt::Uninitialized);
    std::uint64_t state = std::hash<std::string>()(name) | 1;
    for (std::uint64_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        bytes[static_cast<int>(i)] = static_cast<char>(state >> 24);
    }
    return bytes;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size() && file.flush();
}

bool Accepted(const QString& name)
{
    const QString upper = name.toUpper();
    for (const NamedRole& role : kRoles) {
        if (upper == role.fresh || upper == role.legacy)
            return true;
    }
    return false;
}

// A file of zeros that takes no room, and the SHA-256 of its contents.
bool WriteSparse(const QString& path, std::uint64_t size, QByteArray* sha256)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        !file.resize(static_cast<qint64>(size)))
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const QByteArray zeros(1 << 20, '\0');
    for (std::uint64_t left = size; left > 0;) {
        const int part = static_cast<int>(std::min<std::uint64_t>(left, zeros.size()));
        hash.addData(zeros.constData(), part);
        left -= static_cast<std::uint64_t>(part);
    }
    *sha256 = hash.result();
    return true;
}

} // namespace

std::uint64_t DiskOffsetFor(const std::string& name)
{
    const QString upper = QString::fromStdString(name).toUpper();
    for (const NamedRole& role : kRoles) {
        if (upper == role.fresh || upper == role.legacy)
            return role.offset;
    }
    return 0;
}

std::vector<FileRegion> MakeUpdateFolder(const std::string& folder, Generation generation,
                                         const FolderSizes& sizes, std::string* error)
{
    const std::uint64_t byRole[] = {sizes.os, sizes.kestol, sizes.app};
    std::vector<FileRegion> files;
    if (!QDir().mkpath(QString::fromStdString(folder))) {
        *error = "cannot make the update folder " + folder;
        return {};
    }
    for (int i = 0; i < 3; ++i) {
        const NamedRole& role = kRoles[i];
        FileRegion file;
        file.name = generation == Generation::New ? role.fresh : role.legacy;
        file.offset = role.offset;
        file.size = byRole[i];
        const QByteArray bytes = Contents(file.name, file.size);
        file.sha256 = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
        if (!WriteFile(QString::fromStdString(folder + "/" + file.name), bytes)) {
            *error = "cannot write " + folder + "/" + file.name;
            return {};
        }
        files.push_back(file);
    }
    return files;
}

std::vector<FileRegion> ReadUpdateFolder(const std::string& folder, std::string* error)
{
    std::vector<FileRegion> files;
    const QFileInfoList entries =
        QDir(QString::fromStdString(folder)).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo& entry : entries) {
        const std::string name = entry.fileName().toStdString();
        const bool known = Accepted(entry.fileName());
        QFile file(entry.filePath());
        if (!known || !file.open(QIODevice::ReadOnly))
            continue;
        QCryptographicHash hash(QCryptographicHash::Sha256);
        hash.addData(&file);
        files.push_back(
            {name, DiskOffsetFor(name), static_cast<std::uint64_t>(entry.size()), hash.result()});
    }
    // One file of the new generation makes the whole folder one of the new generation.
    const auto legacy = [](const FileRegion& file) {
        return !QString::fromStdString(file.name).toUpper().startsWith("ZENTA_");
    };
    if (!std::all_of(files.begin(), files.end(), legacy))
        files.erase(std::remove_if(files.begin(), files.end(), legacy), files.end());
    if (files.empty())
        *error = "no firmware files in " + folder;
    return files;
}

std::vector<FileRegion> MakeFolderEntries(const std::string& folder,
                                          const std::vector<FolderEntry>& entries,
                                          std::string* error)
{
    std::vector<FileRegion> files;
    if (!QDir().mkpath(QString::fromStdString(folder))) {
        *error = "cannot make the update folder " + folder;
        return {};
    }
    for (const FolderEntry& entry : entries) {
        const std::string path = folder + "/" + entry.name;
        FileRegion file{entry.name, DiskOffsetFor(entry.name), entry.size, QByteArray()};
        bool made = false;
        if (entry.fifoLink) {
            const std::string fifo = folder + "/." + entry.name + ".fifo";
            made = mkfifo(fifo.c_str(), 0600) == 0 && symlink(fifo.c_str(), path.c_str()) == 0;
        } else if (entry.sparse) {
            made = WriteSparse(QString::fromStdString(path), entry.size, &file.sha256);
        } else {
            const QByteArray bytes = Contents(entry.name, entry.size);
            file.sha256 = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
            made = WriteFile(QString::fromStdString(path), bytes);
        }
        if (!made) {
            *error = "cannot make " + path;
            return {};
        }
        if (!entry.fifoLink && Accepted(QString::fromStdString(entry.name)))
            files.push_back(file);
    }
    if (files.empty())
        *error = "no firmware files made in " + folder;
    return files;
}

bool ChangeSource(const std::string& folder, const SourceChange& change, std::string* error)
{
    std::string name = change.file;
    if (name.empty()) {
        // In the order the updater lists the folder: the file system's own.
        const QFileInfoList entries =
            QDir(QString::fromStdString(folder))
                .entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
        if (entries.size() < 3) {
            *error = "no third file in " + folder;
            return false;
        }
        name = entries[2].fileName().toStdString();
    }
    const std::string path = folder + "/" + name;
    QFile file(QString::fromStdString(path));
    bool done = false;
    switch (change.kind) {
    case SourceChange::Truncate:
        done = file.resize(file.size() / 2);
        break;
    case SourceChange::Rewrite: {
        // Other bytes of the same length, written in place.
        QByteArray bytes = Contents(name + " rewritten", static_cast<std::uint64_t>(file.size()));
        done = file.open(QIODevice::ReadWrite) && file.write(bytes) == bytes.size() && file.flush();
        break;
    }
    case SourceChange::ReplaceByFolder:
        done = file.remove() && QDir().mkdir(QString::fromStdString(path));
        break;
    }
    if (!done)
        *error = "cannot change " + path;
    return done;
}
