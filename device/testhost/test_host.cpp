// The test host's disks, files, faults and clock, all behind one lock.
#include "device/testhost/test_host.h"

#include "device/block_io.h"
#include "device/text16.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

std::string ToUtf8(const WChar* text)
{
    std::string out;
    if (text != nullptr)
        Utf16ToUtf8(text, &out);
    return out;
}

constexpr HostError kRefused{HostFailure::BadArgument, 0};
constexpr HostError kIoError{HostFailure::Other, 5}; // EIO
constexpr HostError kGone{HostFailure::Gone, 6};

std::uint32_t Word(const unsigned char* bytes, int offset)
{
    return std::uint32_t(bytes[offset]) | std::uint32_t(bytes[offset + 1]) << 8 |
           std::uint32_t(bytes[offset + 2]) << 16 | std::uint32_t(bytes[offset + 3]) << 24;
}

void PutWord(unsigned char* bytes, int offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

// What the calculator takes as a command: its own layout, written out here independently.
bool IsCommandSector(const unsigned char* s)
{
    static const unsigned char head[12] = {0xAA, 0x55, 0x55, 0xAA, 'K',  'L',
                                           'V',  'D',  0x00, 0x02, 0x00, 0x00};
    return std::memcmp(s, head, sizeof head) == 0;
}

} // namespace

struct TestHost::Thread {
    std::thread thread;
    int result = 0;
};

bool TestHost::Fault::Hit(int* seen) const
{
    return Covers((*seen)++);
}

bool TestHost::Fault::Covers(int call) const
{
    return call >= after && (times < 0 || call < after + times);
}

TestHost::TestHost() = default;
TestHost::~TestHost() = default;

std::string TestHost::CalculatorPath(const std::string& serial)
{
    return UsbDiskPath("kz", "zenta_update", serial);
}

std::string TestHost::UsbDiskPath(const std::string& vendor, const std::string& product,
                                  const std::string& serial)
{
    return "\\\\?\\usbstor#disk&ven_" + vendor + "&prod_" + product + "&rev_1.00#" + serial +
           "&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
}

std::string TestHost::SataDiskPath(const std::string& vendor, const std::string& product)
{
    return "\\\\?\\scsi#disk&ven_" + vendor + "&prod_" + product +
           "#4&215468a5&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
}

int TestHost::AddDisk(const std::string& path)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    Disk disk;
    disk.path = path;
    disks_.push_back(disk);
    return static_cast<int>(disks_.size()) - 1;
}

void TestHost::AddSourceFile(const std::string& path, std::vector<unsigned char> data)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    SourceFile file;
    file.path = path;
    file.data = std::move(data);
    files_[path] = file;
}

void TestHost::EditDisk(int disk, const std::function<void(Disk&)>& edit)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    edit(disks_.at(disk));
}

void TestHost::EditSourceFile(const std::string& path, const std::function<void(SourceFile&)>& edit)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    edit(files_.at(path));
}

std::vector<TestHost::Event> TestHost::Events() const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return events_;
}

std::vector<TestHost::Event> TestHost::EventsOf(int disk) const
{
    std::vector<Event> out;
    for (const Event& e : Events()) {
        if (e.disk == disk)
            out.push_back(e);
    }
    return out;
}

std::vector<TestHost::Event> TestHost::OperationsOf(int disk) const
{
    std::vector<Event> out;
    for (const Event& e : EventsOf(disk)) {
        if (e.op != Op::Close)
            out.push_back(e);
    }
    return out;
}

int TestHost::NextOperation(Disk& disk)
{
    const int operation = disk.operationSeen++;
    if (disk.unplugFault.Covers(operation))
        disk.present = false;
    return operation;
}

unsigned char TestHost::PatternByte(std::int64_t offset)
{
    return static_cast<unsigned char>((offset * 131 + (offset >> 12) * 7 + 0x5A) & 0xFF);
}

void TestHost::CopyOut(const Disk& disk, std::int64_t offset, unsigned char* out,
                       std::int64_t length) const
{
    // A page at a time: whole updates are swept byte for byte, many hundred times over.
    while (length > 0) {
        const std::int64_t base = offset / kPageSize * kPageSize;
        const std::int64_t within = offset - base;
        const std::int64_t n = std::min(length, kPageSize - within);
        const auto page = disk.pages.find(base);
        if (page != disk.pages.end()) {
            std::memcpy(out, page->second.data() + within, static_cast<std::size_t>(n));
        } else {
            for (std::int64_t i = 0; i < n; ++i)
                out[i] = PatternByte(offset + i);
        }
        offset += n;
        out += n;
        length -= n;
    }
}

std::vector<unsigned char> TestHost::DiskBytes(int disk, std::int64_t offset,
                                               std::int64_t length) const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    std::vector<unsigned char> out(static_cast<std::size_t>(length));
    CopyOut(disks_.at(disk), offset, out.data(), length);
    return out;
}

std::vector<std::int64_t> TestHost::TouchedPages(int disk) const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    std::vector<std::int64_t> out;
    for (const auto& page : disks_.at(disk).pages)
        out.push_back(page.first);
    return out;
}

int TestHost::OpenHandles() const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return static_cast<int>(handles_.size());
}

std::int64_t TestHost::SleptMs() const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return sleptMs_;
}

int TestHost::ThreadNumber()
{
    const auto id = std::this_thread::get_id();
    const auto found = threadNumbers_.find(id);
    if (found != threadNumbers_.end())
        return found->second;
    const int number = static_cast<int>(threadNumbers_.size());
    threadNumbers_[id] = number;
    return number;
}

void TestHost::Record(Op op, int disk, std::int64_t offset, std::int64_t length, std::uint32_t code,
                      std::uint32_t parameter, bool ok)
{
    events_.push_back({op, disk, ThreadNumber(), offset, length, code, parameter, ok});
}

TestHost::Handle* TestHost::Find(FileHandle file)
{
    const auto found = handles_.find(file);
    return found == handles_.end() ? nullptr : &found->second;
}

void* TestHost::BeginDiskInterfaces()
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    Record(Op::Enumerate, -1);
    if (enumerateFault.Hit(&enumerateSeen_))
        return nullptr;
    auto* list = new std::vector<std::string>;
    for (const Disk& disk : disks_) {
        if (disk.present)
            list->push_back(disk.path);
    }
    return list;
}

InterfaceStatus TestHost::DiskInterfacePath(void* list, int index, WChar* path, int capacity)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (list == nullptr)
        return InterfaceStatus::End;
    const auto& paths = *static_cast<std::vector<std::string>*>(list);
    if (index < 0 || index >= static_cast<int>(paths.size()))
        return InterfaceStatus::End;
    if (skipMembers.count(index) != 0)
        return InterfaceStatus::Skip;
    const String16 wide = Utf8ToUtf16(paths[index]);
    if (path == nullptr || static_cast<int>(wide.size()) >= capacity)
        return InterfaceStatus::TooLong;
    std::copy(wide.begin(), wide.end(), path);
    path[wide.size()] = 0;
    return InterfaceStatus::Ok;
}

void TestHost::EndDiskInterfaces(void* list)
{
    delete static_cast<std::vector<std::string>*>(list);
}

FileHandle TestHost::OpenFailed(HostError why)
{
    openErrors_[std::this_thread::get_id()] = why;
    return kInvalidHandle;
}

FileHandle TestHost::OpenDisk(const WChar* path)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (path == nullptr)
        return OpenFailed(kRefused);
    const std::string name = ToUtf8(path);
    for (int i = 0; i < static_cast<int>(disks_.size()); ++i) {
        Disk& disk = disks_[i];
        if (disk.path != name)
            continue;
        const int operation = NextOperation(disk);
        if (!disk.present || disk.openFault.Hit(&disk.openSeen)) {
            Record(Op::OpenFailed, i);
            return OpenFailed(disk.present ? disk.openFailure : HostError{HostFailure::Gone, 2});
        }
        if (disk.ioFault.Covers(operation)) {
            Record(Op::OpenFailed, i);
            return OpenFailed(kIoError);
        }
        Record(Op::Open, i);
        handles_[nextHandle_].disk = i;
        return nextHandle_++;
    }
    Record(Op::OpenFailed, -1);
    return OpenFailed({HostFailure::NotListed, 0});
}

FileHandle TestHost::OpenSourceFile(const WChar* path)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (path == nullptr)
        return OpenFailed(kRefused);
    const auto found = files_.find(ToUtf8(path));
    if (found == files_.end())
        return OpenFailed({HostFailure::Gone, 2});
    if (found->second.openFault.Hit(&found->second.openSeen))
        return OpenFailed({HostFailure::Denied, 13});
    handles_[nextHandle_].file = found->first;
    return nextHandle_++;
}

HostError TestHost::OpenError()
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    const auto found = openErrors_.find(std::this_thread::get_id());
    return found != openErrors_.end() ? found->second : HostError{};
}

HostError TestHost::LastError(FileHandle file)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    Handle* handle = Find(file);
    return handle != nullptr ? handle->lastError : kRefused;
}

std::int64_t TestHost::Seek(FileHandle file, std::int64_t offset, SeekFrom from)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    Handle* handle = Find(file);
    if (handle == nullptr)
        return -1;
    const std::int64_t base = from == SeekFrom::Start ? 0 : handle->position;
    // Out of the 64-bit range: refused without computing the target.
    if (offset > 0 ? base > INT64_MAX - offset : base + offset < 0) {
        handle->lastError = kRefused;
        return -1;
    }
    const std::int64_t target = base + offset;
    bool ok = true;
    bool ioError = false;
    if (handle->disk >= 0) {
        Disk& disk = disks_[handle->disk];
        const int operation = NextOperation(disk);
        ok = ok && disk.present && !disk.seekFault.Hit(&disk.seekSeen);
        ioError = ok && disk.ioFault.Covers(operation);
        ok = ok && !ioError;
    }
    if (handle->disk >= 0)
        Record(Op::Seek, handle->disk, target, 0, 0, 0, ok);
    if (!ok) {
        handle->lastError = ioError ? kIoError : kGone;
        return -1;
    }
    handle->position = target;
    return target;
}

bool TestHost::Read(FileHandle file, void* buffer, std::uint32_t length, std::uint32_t* done)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    Handle* handle = Find(file);
    return ReadFrom(handle, handle != nullptr ? handle->position : 0, true, buffer, length, done);
}

bool TestHost::ReadAt(FileHandle file, std::int64_t offset, void* buffer, std::uint32_t length,
                      std::uint32_t* done)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return ReadFrom(Find(file), offset, false, buffer, length, done);
}

bool TestHost::ReadFrom(Handle* handle, std::int64_t at, bool advance, void* buffer,
                        std::uint32_t length, std::uint32_t* done)
{
    if (done != nullptr)
        *done = 0;
    if (handle == nullptr || done == nullptr || (buffer == nullptr && length > 0) || at < 0) {
        if (handle != nullptr)
            handle->lastError = kRefused;
        return false;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    if (handle->disk >= 0) {
        const bool ok = DiskRead(*handle, at, out, length);
        Record(Op::Read, handle->disk, at, length, 0, 0, ok);
        if (ok) {
            if (advance)
                handle->position = at + length;
            *done = length;
        }
        return ok;
    }
    SourceFile& source = files_.at(handle->file);
    if (source.readFault.Hit(&source.readSeen)) {
        handle->lastError = {HostFailure::Other, 5};
        return false;
    }
    std::int64_t end = static_cast<std::int64_t>(source.data.size());
    if (source.readableBytes >= 0)
        end = std::min(end, source.readableBytes);
    const std::int64_t n = std::max<std::int64_t>(0, std::min<std::int64_t>(length, end - at));
    if (n > 0)
        std::memcpy(out, source.data.data() + at, static_cast<std::size_t>(n));
    if (advance)
        handle->position = at + n;
    *done = static_cast<std::uint32_t>(n);
    return true;
}

bool TestHost::DiskRead(Handle& handle, std::int64_t at, unsigned char* out, std::uint32_t length)
{
    Disk& disk = disks_[handle.disk];
    const int operation = NextOperation(disk);
    if (!disk.present || at + length > disk.size || disk.readFault.Hit(&disk.readSeen) ||
        disk.ioFault.Covers(operation)) {
        handle.lastError = !disk.present ? kGone : at + length > disk.size ? kRefused : kIoError;
        return false;
    }
    if (at == kMailbox && length == 512 && !disk.reply.empty()) {
        std::memcpy(out, disk.reply.data(), 512);
        return true;
    }
    CopyOut(disk, at, out, length);
    return true;
}

bool TestHost::Write(FileHandle file, const void* buffer, std::uint32_t length, std::uint32_t* done)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    Handle* handle = Find(file);
    return WriteTo(handle, handle != nullptr ? handle->position : 0, true, buffer, length, done);
}

bool TestHost::WriteAt(FileHandle file, std::int64_t offset, const void* buffer,
                       std::uint32_t length, std::uint32_t* done)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return WriteTo(Find(file), offset, false, buffer, length, done);
}

bool TestHost::WriteTo(Handle* handle, std::int64_t at, bool advance, const void* buffer,
                       std::uint32_t length, std::uint32_t* done)
{
    if (done != nullptr)
        *done = 0;
    if (handle == nullptr || done == nullptr || handle->disk < 0 ||
        (buffer == nullptr && length > 0) || at < 0) {
        if (handle != nullptr)
            handle->lastError = kRefused;
        return false;
    }
    if (length == 0)
        return true;
    std::uint32_t stored = 0;
    if (!DiskWrite(*handle, at, static_cast<const unsigned char*>(buffer), length, &stored))
        return false;
    if (advance)
        handle->position = at + stored;
    *done = stored;
    return true;
}

bool TestHost::DiskWrite(Handle& handle, std::int64_t at, const unsigned char* data,
                         std::uint32_t length, std::uint32_t* stored)
{
    const int index = handle.disk;
    Disk& disk = disks_[index];
    const int operation = NextOperation(disk);
    const bool ioError = disk.present && disk.ioFault.Covers(operation);
    // A device that acknowledges more than it took: half of the request, or none of it.
    const bool shortWrite = disk.shortWriteFault.Covers(operation);
    const bool lost = disk.lostWriteFault.Covers(operation);
    *stored = shortWrite ? length / 2 : length;
    if (at == kMailbox && length == 512 && IsCommandSector(data)) {
        const bool ok = disk.present && !disk.commandWriteFault.Hit(&disk.commandSeen) && !ioError;
        if (!ok)
            handle.lastError = {disk.present ? HostFailure::Other : HostFailure::Gone, 5};
        Record(Op::Command, index, at, *stored, Word(data, 12), Word(data, 16), ok);
        // Half a command sector is no command; the calculator ignores it.
        if (ok && !shortWrite && !lost)
            TakeCommand(disk, index, data);
        return ok;
    }
    bool ok = disk.present && at + length <= disk.size;
    if (!ok)
        handle.lastError = disk.present ? kRefused : kGone;
    if (ok && (disk.dataWriteFaultOffset < 0 || disk.dataWriteFaultOffset == at)) {
        ok = !disk.dataWriteFault.Hit(&disk.writeSeen);
        if (!ok)
            handle.lastError = kIoError;
    }
    if (ok && ioError) {
        ok = false;
        handle.lastError = kIoError;
    }
    Record(Op::Write, index, at, *stored, 0, 0, ok);
    if (ok && !lost)
        Store(disk, at, data, *stored);
    return ok;
}

void TestHost::TakeCommand(Disk& disk, int /*index*/, const unsigned char* sector)
{
    const std::uint32_t code = Word(sector, 12);
    disk.reply.assign(sector, sector + 512);
    bool accept = true;
    if (code == 0xBEDC && (disk.refuseProgress < 0 || disk.refused < disk.refuseProgress)) {
        ++disk.refused;
        accept = false;
    }
    PutWord(disk.reply.data(), 12, accept ? (0x80000000u | code) : code);
    PutWord(disk.reply.data(), 16, 0);
    if (code == 0xBEC1) {
        ++disk.finishTaken;
        disk.present = false; // the calculator leaves update mode
    }
}

void TestHost::Store(Disk& disk, std::int64_t offset, const unsigned char* data,
                     std::int64_t length)
{
    for (std::int64_t done = 0; done < length;) {
        const std::int64_t at = offset + done;
        const std::int64_t base = at / kPageSize * kPageSize;
        const std::int64_t n = std::min(length - done, kPageSize - (at - base));
        auto& page = disk.pages[base];
        if (page.empty()) {
            page.resize(kPageSize);
            for (std::int64_t k = 0; k < kPageSize; ++k)
                page[k] = PatternByte(base + k);
        }
        std::memcpy(page.data() + (at - base), data + done, static_cast<std::size_t>(n));
        done += n;
    }
    disk.bytesStored += length;
    if (disk.vanishAfterBytes >= 0 && disk.bytesStored >= disk.vanishAfterBytes)
        disk.present = false;
}

std::int64_t TestHost::Size(FileHandle file)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    Handle* handle = Find(file);
    if (handle == nullptr)
        return -1;
    if (handle->disk >= 0)
        return disks_[handle->disk].sizeUnknown ? -1 : disks_[handle->disk].size;
    return static_cast<std::int64_t>(files_.at(handle->file).data.size());
}

bool TestHost::Flush(FileHandle file)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    Handle* handle = Find(file);
    if (handle == nullptr)
        return false;
    if (handle->disk < 0)
        return true;
    Disk& disk = disks_[handle->disk];
    const int operation = NextOperation(disk);
    const bool ok = disk.present && !disk.ioFault.Covers(operation);
    if (!ok)
        handle->lastError = disk.present ? kIoError : kGone;
    Record(Op::Flush, handle->disk, 0, 0, 0, 0, ok);
    return ok;
}

void TestHost::Close(FileHandle file)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    Handle* handle = Find(file);
    if (handle == nullptr) {
        Record(Op::Close, -2); // a close of nothing: tests look for this
        return;
    }
    if (handle->disk >= 0)
        Record(Op::Close, handle->disk);
    handles_.erase(file);
}

void* TestHost::AllocIoBuffer(std::size_t size)
{
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (allocFault.Hit(&allocSeen_))
            return nullptr;
    }
    return AllocAligned(size);
}

void TestHost::FreeIoBuffer(void* buffer)
{
    FreeAligned(buffer);
}

ThreadHandle TestHost::StartThread(ThreadProc proc, void* arg)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (proc == nullptr)
        return 0;
    if (threadStartFault.Hit(&threadStartSeen_)) {
        Record(Op::ThreadStartFailed, -1);
        return 0;
    }
    Record(Op::ThreadStart, -1);
    auto* thread = new Thread;
    thread->thread = std::thread([thread, proc, arg] { thread->result = proc(arg); });
    return reinterpret_cast<ThreadHandle>(thread);
}

void TestHost::JoinThreads(const ThreadHandle* threads, int count, int* exitCodes)
{
    for (int i = 0; threads != nullptr && i < count; ++i) {
        auto* thread = reinterpret_cast<Thread*>(threads[i]);
        int result = 110; // as for a thread that never started
        if (thread != nullptr) {
            thread->thread.join();
            result = thread->result;
            delete thread;
        }
        if (exitCodes != nullptr)
            exitCodes[i] = result;
    }
}

void TestHost::Sleep(int milliseconds)
{
    if (onSleep)
        onSleep(milliseconds);
    std::lock_guard<std::recursive_mutex> guard(lock_);
    Record(Op::Sleep, -1, 0, milliseconds);
    sleptMs_ += milliseconds;
}

void TestHost::SleepUnless(int milliseconds, const std::atomic<bool>& wake)
{
    if (!wake) {
        if (onSleepUnless)
            onSleepUnless(milliseconds, wake);
        else if (onSleep)
            onSleep(milliseconds);
    }
    std::lock_guard<std::recursive_mutex> guard(lock_);
    Record(Op::Sleep, -1, 0, milliseconds);
    sleptMs_ += milliseconds;
}
