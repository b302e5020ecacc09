// The host contract on the Linux host: source files in a temporary folder, and a loop device as
// the disk (needs root; its cases are skipped with the reason otherwise).
#include "../host_linux/test_support.h"
#include "device/linux_disk_paths.h"
#include "host_contract_tests.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

class LinuxFactory : public HostContractFactory {
public:
    ~LinuxFactory() override
    {
        HoldDisk(false);
        loop_.Detach();
    }

    const char* Name() const override { return "Linux"; }
    Host& TheHost() override { return NativeHost(); }

    String16 MakeSourceFile(const std::vector<unsigned char>& bytes) override
    {
        const QString path = folder_.filePath(QString("source-%1.rom").arg(files_++));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        return ToHost(path);
    }

    String16 MissingFile() override { return ToHost(folder_.filePath("missing.rom")); }

    ContractDisk Disk() override
    {
        if (geteuid() != 0)
            return {String16(), 0, "loop devices need root"};
        if (loop_.node.isEmpty()) {
            const QString image = MakeImage(folder_, kSize);
            if (image.isEmpty() || !loop_.Attach(image, 512))
                return {String16(), 0, "losetup could not attach a loop device"};
        }
        LinuxDiskInfo info;
        info.location =
            "/sys/devices/virtual/block/" + QFileInfo(loop_.node).fileName().toStdString();
        const QString path = QString::fromStdString(DiskInterfacePathOf(info));
        if (!Enumerate().contains(path)) // the host opens only what it has just listed
            return {String16(), 0, "the loop device is not listed"};
        return {ToHost(path), kSize, ""};
    }

    bool HoldDisk(bool hold) override
    {
        if (hold && holder_ < 0 && !loop_.node.isEmpty())
            holder_ = open(loop_.node.toLocal8Bit().constData(), O_RDONLY | O_EXCL | O_CLOEXEC);
        if (!hold && holder_ >= 0) {
            close(holder_);
            holder_ = -1;
        }
        return !hold || holder_ >= 0;
    }

private:
    static constexpr qint64 kSize = 1 << 20;
    QTemporaryDir folder_;
    LoopDevice loop_;
    int holder_ = -1;
    int files_ = 0;
};

} // namespace

int main(int argc, char** argv)
{
    LinuxFactory factory;
    return RunHostContract(factory, argc > 1 ? argv[1] : "") == 0 ? 0 : 1;
}
