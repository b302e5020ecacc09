#include "fuse_disks.h"
#include "loop_device.h"

#include <QTemporaryDir>
#include <QtTest>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

// The FUSE layer serves many disks at once: a disk whose link is busy holds its request for as
// long as the link takes, and no other disk may wait for it.

namespace {

// Disks that hold every write until all of them have one in hand, or until the patience runs
// out; the most writes ever in hand at once is what the test reads.
class Rendezvous {
public:
    explicit Rendezvous(int expected) : expected_(expected) {}

    void Arrive()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        most_ = std::max(most_, ++inHand_);
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::seconds(10), [this] { return most_ >= expected_; });
        --inHand_;
    }
    int Most() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return most_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    const int expected_;
    int inHand_ = 0;
    int most_ = 0;
};

class GateDisk : public EmulatedDisk {
public:
    explicit GateDisk(Rendezvous* rendezvous) : rendezvous_(rendezvous) {}
    std::uint64_t Size() const override { return 1 << 20; }
    int Read(std::uint64_t, std::uint64_t length, unsigned char* out) override
    {
        std::memset(out, 0, length);
        return 0;
    }
    int Write(std::uint64_t, std::uint64_t, const unsigned char*) override
    {
        rendezvous_->Arrive();
        return 0;
    }

private:
    Rendezvous* rendezvous_;
};

} // namespace

class TestFuseDisks : public QObject {
    Q_OBJECT

private slots:
    void everyDiskServedAtOnce_data();
    void everyDiskServedAtOnce();
};

void TestFuseDisks::everyDiskServedAtOnce_data()
{
    QTest::addColumn<int>("disks");
    QTest::addColumn<bool>("loopDevices");
    // More disks than libfuse's threads by default, and than the kernel's background requests.
    QTest::newRow("files") << 80 << false;
    QTest::newRow("loop devices") << 17 << true;
}

void TestFuseDisks::everyDiskServedAtOnce()
{
    QFETCH(int, disks);
    QFETCH(bool, loopDevices);
    if (loopDevices && geteuid() != 0) {
        QSKIP("loop devices need root");
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Rendezvous rendezvous(disks);
    std::vector<std::unique_ptr<GateDisk>> gates;
    FuseDisks fuse;
    for (int i = 0; i < disks; ++i) {
        gates.push_back(std::make_unique<GateDisk>(&rendezvous));
        fuse.Add("disk" + std::to_string(i), gates.back().get());
    }
    std::string error;
    if (!fuse.Mount(dir.path().toStdString(), &error)) {
        QSKIP(error.c_str());
    }
    std::vector<std::unique_ptr<LoopDevice>> loops;
    std::vector<std::string> paths;
    for (int i = 0; i < disks; ++i) {
        paths.push_back(fuse.PathOf("disk" + std::to_string(i)));
        if (loopDevices) {
            loops.push_back(std::make_unique<LoopDevice>());
            QVERIFY2(loops.back()->Attach(paths.back(), &error), error.c_str());
            paths.back() = loops.back()->Node();
        }
    }
    std::vector<int> results(disks, -1);
    std::vector<std::thread> writers;
    for (int i = 0; i < disks; ++i) {
        writers.emplace_back([&, i] {
            const int fd = open(paths[i].c_str(), O_WRONLY | O_DIRECT | O_CLOEXEC);
            void* sector = nullptr;
            if (fd < 0 || posix_memalign(&sector, 4096, 4096) != 0) {
                return;
            }
            std::memset(sector, 0x5a, 4096);
            results[i] = static_cast<int>(pwrite(fd, sector, 4096, 0));
            std::free(sector);
            close(fd);
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    loops.clear();
    fuse.Unmount();
    for (int i = 0; i < disks; ++i) {
        QCOMPARE(results[i], 4096);
    }
    QCOMPARE(rendezvous.Most(), disks);
}

QTEST_GUILESS_MAIN(TestFuseDisks)
#include "tst_fuse_disks.moc"
