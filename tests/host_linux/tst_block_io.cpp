#include "device/block_io.h"

#include <QtTest>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

// A disk that accepts only what unbuffered I/O accepts, and counts every breach.
class StrictDevice : public SectorDevice {
public:
    StrictDevice(std::uint32_t block, std::size_t size) : image(size), block_(block)
    {
        for (std::size_t i = 0; i < size; ++i) {
            image[i] = static_cast<unsigned char>(i * 7 + i / 251);
        }
    }
    std::uint32_t BlockSize() const override { return block_; }
    bool ReadAligned(std::uint64_t offset, void* buffer, std::size_t length) override
    {
        if (!Accept(offset, buffer, length) || failReads) {
            return false;
        }
        std::memcpy(buffer, image.data() + offset, length);
        return true;
    }
    bool WriteAligned(std::uint64_t offset, const void* buffer, std::size_t length) override
    {
        if (!Accept(offset, buffer, length) || failWrites) {
            return false;
        }
        std::memcpy(image.data() + offset, buffer, length);
        return true;
    }

    std::vector<unsigned char> image;
    int breaches = 0;
    int calls = 0;
    const void* lastBuffer = nullptr;
    bool failReads = false;
    bool failWrites = false;

private:
    bool Accept(std::uint64_t offset, const void* buffer, std::size_t length)
    {
        ++calls;
        lastBuffer = buffer;
        if (offset % block_ != 0 || length % block_ != 0 || length == 0 ||
            reinterpret_cast<std::uintptr_t>(buffer) % block_ != 0) {
            ++breaches;
            return false;
        }
        return offset <= image.size() && length <= image.size() - offset;
    }
    std::uint32_t block_;
};

// Caller memory placed `shift` bytes past a 4096-byte boundary, with bytes to spare around it.
struct CallerBuffer {
    CallerBuffer(std::size_t length, int shift)
        : raw(static_cast<unsigned char*>(AllocAligned(length + 8192))), data(raw + 4096 + shift)
    {
        std::memset(raw, 0x5A, length + 8192);
    }
    ~CallerBuffer() { FreeAligned(raw); }
    unsigned char* raw;
    unsigned char* data;
};

// Requests of every shape: unaligned ends, a misaligned buffer, many bounce windows, none.
void AddRequests()
{
    QTest::addColumn<uint>("block");
    QTest::addColumn<qulonglong>("offset");
    QTest::addColumn<qulonglong>("length");
    QTest::addColumn<int>("shift");   // misalignment of the caller's buffer
    QTest::addColumn<bool>("direct"); // must reach the device in one call, uncopied

    QTest::newRow("512 aligned") << 512u << 1024ull << 16384ull << 0 << true;
    QTest::newRow("4096 aligned") << 4096u << 8192ull << 16384ull << 0 << true;
    QTest::newRow("512 head partial") << 512u << 100ull << 1000ull << 0 << false;
    QTest::newRow("512 tail partial") << 512u << 1024ull << 700ull << 0 << false;
    QTest::newRow("512 inside one sector") << 512u << 1030ull << 10ull << 0 << false;
    QTest::newRow("512 one byte") << 512u << 511ull << 1ull << 0 << false;
    QTest::newRow("512 misaligned buffer") << 512u << 1024ull << 2048ull << 3 << false;
    QTest::newRow("4096 both ends partial") << 4096u << 4000ull << 9000ull << 0 << false;
    QTest::newRow("4096 inside one sector") << 4096u << 4097ull << 4094ull << 0 << false;
    QTest::newRow("4096 buffer aligned to 512") << 4096u << 0ull << 8192ull << 512 << false;
    QTest::newRow("4096 many windows") << 4096u << 123ull << 300000ull << 5 << false;
    QTest::newRow("512 many windows") << 512u << 0ull << 200001ull << 1 << false;
    QTest::newRow("512 last byte of disk") << 512u << 524287ull << 1ull << 0 << false;
    QTest::newRow("zero length") << 512u << 777ull << 0ull << 3 << false;
}

constexpr std::size_t kDiskSize = 512 * 1024;

class TestBlockIo : public QObject {
    Q_OBJECT
private slots:
    void alignedAllocation();
    void write_data() { AddRequests(); }
    void write();
    void read_data() { AddRequests(); }
    void read();
    void failures_data();
    void failures();
};

void TestBlockIo::alignedAllocation()
{
    for (std::size_t size : {std::size_t(0), std::size_t(1), std::size_t(16384)}) {
        void* buffer = AllocAligned(size);
        QVERIFY(buffer != nullptr);
        QCOMPARE(reinterpret_cast<std::uintptr_t>(buffer) % kIoAlignment, std::uintptr_t(0));
        FreeAligned(buffer);
    }
    QVERIFY(AllocAligned(std::numeric_limits<std::size_t>::max() - 8192) == nullptr);
}

void TestBlockIo::write()
{
    QFETCH(uint, block);
    QFETCH(qulonglong, offset);
    QFETCH(qulonglong, length);
    QFETCH(int, shift);
    QFETCH(bool, direct);
    StrictDevice device(block, kDiskSize);
    CallerBuffer data(length, shift);
    for (std::size_t i = 0; i < length; ++i) {
        data.data[i] = static_cast<unsigned char>(0xA5 ^ (i * 13));
    }
    std::vector<unsigned char> expected = device.image;
    std::memcpy(expected.data() + offset, data.data, length);

    QVERIFY(WriteBytes(device, offset, data.data, length));
    QCOMPARE(device.breaches, 0);
    QVERIFY(device.image == expected);
    if (direct) {
        QCOMPARE(device.calls, 1);
        QCOMPARE(device.lastBuffer, static_cast<const void*>(data.data));
    }
    if (length == 0) {
        QCOMPARE(device.calls, 0);
    }
}

void TestBlockIo::read()
{
    QFETCH(uint, block);
    QFETCH(qulonglong, offset);
    QFETCH(qulonglong, length);
    QFETCH(int, shift);
    QFETCH(bool, direct);
    StrictDevice device(block, kDiskSize);
    CallerBuffer data(length, shift);

    QVERIFY(ReadBytes(device, offset, data.data, length));
    QCOMPARE(device.breaches, 0);
    QVERIFY(std::memcmp(data.data, device.image.data() + offset, length) == 0);
    // The caller's bytes around the request stay as they were.
    QCOMPARE(data.data[-1], static_cast<unsigned char>(0x5A));
    QCOMPARE(data.data[length], static_cast<unsigned char>(0x5A));
    if (direct) {
        QCOMPARE(device.calls, 1);
        QCOMPARE(device.lastBuffer, static_cast<const void*>(data.data));
    }
    if (length == 0) {
        QCOMPARE(device.calls, 0);
    }
}

void TestBlockIo::failures_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<bool>("failReads");
    QTest::addColumn<bool>("failWrites");
    QTest::addColumn<qulonglong>("offset");
    QTest::addColumn<qulonglong>("length");

    const qulonglong end = kDiskSize;
    const qulonglong huge = std::numeric_limits<qulonglong>::max() - 100;
    QTest::newRow("aligned read fails") << false << true << false << 0ull << 4096ull;
    QTest::newRow("unaligned read fails") << false << true << false << 10ull << 100ull;
    QTest::newRow("aligned write fails") << true << false << true << 0ull << 4096ull;
    QTest::newRow("unaligned write fails") << true << false << true << 10ull << 100ull;
    QTest::newRow("partial sector unreadable") << true << true << false << 10ull << 100ull;
    QTest::newRow("read past the end") << false << false << false << end - 10 << 20ull;
    QTest::newRow("write past the end") << true << false << false << end - 10 << 20ull;
    QTest::newRow("offset overflows") << true << false << false << huge << 200ull;
    QTest::newRow("length overflows") << false << false << false << 4096ull << huge;
}

void TestBlockIo::failures()
{
    QFETCH(bool, write);
    QFETCH(bool, failReads);
    QFETCH(bool, failWrites);
    QFETCH(qulonglong, offset);
    QFETCH(qulonglong, length);
    StrictDevice device(512, kDiskSize);
    device.failReads = failReads;
    device.failWrites = failWrites;
    const std::vector<unsigned char> before = device.image;
    // Large enough for every row that can reach the device; an overflowing one must not.
    CallerBuffer data(kDiskSize, offset % 512 == 0 ? 0 : 1);
    unsigned char* buffer = data.data;

    if (write) {
        QVERIFY(!WriteBytes(device, offset, buffer, static_cast<std::size_t>(length)));
    } else {
        QVERIFY(!ReadBytes(device, offset, buffer, static_cast<std::size_t>(length)));
    }
    QVERIFY(device.image == before);
}

QTEST_APPLESS_MAIN(TestBlockIo)
#include "tst_block_io.moc"
