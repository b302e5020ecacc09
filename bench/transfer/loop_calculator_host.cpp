// The transfer bench's host: every call passed on to the native host, the disks' data writes
// and the mailbox commands and replies timed on the way.
#include "loop_calculator_host.h"

#include "device/text16.h"

namespace {

constexpr std::int64_t kMailboxOffset = 87040;
constexpr std::uint32_t kSector = 512;

double Seconds(LoopCalculatorHost::Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

} // namespace

LoopCalculatorHost::LoopCalculatorHost(const std::string& realPath)
    : native_(NativeHost()), realPath_(realPath)
{
}

const char* LoopCalculatorHost::CalculatorPath()
{
    return "\\\\?\\usbstor#disk&ven_kz&prod_zenta_update&rev_1.00#bench&0#"
           "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
}

void LoopCalculatorHost::ResetTimes()
{
    std::lock_guard<std::mutex> guard(lock_);
    first_ = last_ = Clock::time_point{};
    counts_ = Counts{};
    mailbox_.clear();
}

LoopCalculatorHost::Counts LoopCalculatorHost::Taken() const
{
    std::lock_guard<std::mutex> guard(lock_);
    Counts counts = counts_;
    counts.dataSeconds = Seconds(last_ - first_);
    for (const auto& exchange : mailbox_) {
        if (exchange.first >= first_ && exchange.first < last_)
            counts.mailboxSecondsInData += Seconds(exchange.second);
    }
    return counts;
}

void* LoopCalculatorHost::BeginDiskInterfaces()
{
    // The native enumeration runs in either case: it is what lets the native host open a disk.
    void* list = native_.BeginDiskInterfaces();
    if (realPath_.empty() || list == nullptr)
        return list;
    native_.EndDiskInterfaces(list);
    return this;
}

InterfaceStatus LoopCalculatorHost::DiskInterfacePath(void* list, int index, WChar* path,
                                                      int capacity)
{
    if (realPath_.empty())
        return native_.DiskInterfacePath(list, index, path, capacity);
    if (index > 0)
        return InterfaceStatus::End;
    return Copy16(path, capacity, Utf8ToUtf16(CalculatorPath()).c_str()) ? InterfaceStatus::Ok
                                                                         : InterfaceStatus::TooLong;
}

void LoopCalculatorHost::EndDiskInterfaces(void* list)
{
    if (realPath_.empty())
        native_.EndDiskInterfaces(list);
}

FileHandle LoopCalculatorHost::OpenDisk(const WChar* path)
{
    FileHandle disk = kInvalidHandle;
    std::string name;
    if (realPath_.empty())
        disk = native_.OpenDisk(path);
    else if (Utf16ToUtf8(path, &name) && name == CalculatorPath())
        disk = native_.OpenDisk(Utf8ToUtf16(realPath_).c_str());
    if (disk != kInvalidHandle) {
        std::lock_guard<std::mutex> guard(lock_);
        disks_[disk] = 0;
    }
    return disk;
}

FileHandle LoopCalculatorHost::OpenSourceFile(const WChar* path)
{
    return native_.OpenSourceFile(path);
}

bool LoopCalculatorHost::IsDisk(FileHandle file, std::int64_t* position)
{
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = disks_.find(file);
    if (found == disks_.end())
        return false;
    *position = found->second;
    return true;
}

void LoopCalculatorHost::Advance(FileHandle file, std::int64_t position)
{
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = disks_.find(file);
    if (found != disks_.end())
        found->second = position;
}

std::int64_t LoopCalculatorHost::Seek(FileHandle file, std::int64_t offset, SeekFrom from)
{
    const std::int64_t at = native_.Seek(file, offset, from);
    Advance(file, at);
    return at;
}

bool LoopCalculatorHost::Read(FileHandle file, void* buffer, std::uint32_t length,
                              std::uint32_t* done)
{
    std::int64_t position = 0;
    if (!IsDisk(file, &position))
        return native_.Read(file, buffer, length, done);
    const Clock::time_point start = Clock::now();
    const bool ok = native_.Read(file, buffer, length, done);
    const Clock::time_point end = Clock::now();
    Advance(file, position + *done);
    // A reply is the one read of exactly the mailbox sector; the area reads are longer.
    if (position == kMailboxOffset && length == kSector) {
        std::lock_guard<std::mutex> guard(lock_);
        ++counts_.mailboxReads;
        counts_.mailboxReadSeconds += Seconds(end - start);
        mailbox_.emplace_back(start, end - start);
    }
    return ok;
}

bool LoopCalculatorHost::Write(FileHandle file, const void* buffer, std::uint32_t length,
                               std::uint32_t* done)
{
    std::int64_t position = 0;
    if (!IsDisk(file, &position))
        return native_.Write(file, buffer, length, done);
    const Clock::time_point start = Clock::now();
    const bool ok = native_.Write(file, buffer, length, done);
    const Clock::time_point end = Clock::now();
    Advance(file, position + *done);
    std::lock_guard<std::mutex> guard(lock_);
    if (position == kMailboxOffset && length == kSector) {
        ++counts_.mailboxWrites;
        counts_.mailboxWriteSeconds += Seconds(end - start);
        mailbox_.emplace_back(start, end - start);
        return ok;
    }
    counts_.dataWriteSeconds += Seconds(end - start);
    if (counts_.dataWrites++ == 0 || start < first_)
        first_ = start;
    if (end > last_)
        last_ = end;
    return ok;
}

std::int64_t LoopCalculatorHost::Size(FileHandle file)
{
    return native_.Size(file);
}

bool LoopCalculatorHost::Flush(FileHandle file)
{
    return native_.Flush(file);
}

void LoopCalculatorHost::Close(FileHandle file)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        disks_.erase(file);
    }
    native_.Close(file);
}

void* LoopCalculatorHost::AllocIoBuffer(std::size_t size)
{
    return native_.AllocIoBuffer(size);
}

void LoopCalculatorHost::FreeIoBuffer(void* buffer)
{
    native_.FreeIoBuffer(buffer);
}

ThreadHandle LoopCalculatorHost::StartThread(ThreadProc proc, void* arg)
{
    return native_.StartThread(proc, arg);
}

void LoopCalculatorHost::JoinThreads(const ThreadHandle* threads, int count, int* exitCodes)
{
    native_.JoinThreads(threads, count, exitCodes);
}

void LoopCalculatorHost::Sleep(int milliseconds)
{
    native_.Sleep(milliseconds);
}
