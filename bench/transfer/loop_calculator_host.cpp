#include "loop_calculator_host.h"

#include "device/text16.h"

namespace {

constexpr std::int64_t kMailboxOffset = 87040;

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
    writes_ = 0;
}

double LoopCalculatorHost::DataSeconds() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return std::chrono::duration<double>(last_ - first_).count();
}

int LoopCalculatorHost::DataWrites() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return writes_;
}

void* LoopCalculatorHost::BeginDiskInterfaces()
{
    // The native enumeration runs too: it is what lets the native host open the real disk.
    void* list = native_.BeginDiskInterfaces();
    if (list != nullptr)
        native_.EndDiskInterfaces(list);
    return list != nullptr ? this : nullptr;
}

InterfaceStatus LoopCalculatorHost::DiskInterfacePath(void*, int index, WChar* path, int capacity)
{
    if (index > 0)
        return InterfaceStatus::End;
    return Copy16(path, capacity, Utf8ToUtf16(CalculatorPath()).c_str()) ? InterfaceStatus::Ok
                                                                         : InterfaceStatus::TooLong;
}

void LoopCalculatorHost::EndDiskInterfaces(void*) {}

FileHandle LoopCalculatorHost::OpenDisk(const WChar* path)
{
    std::string name;
    if (!Utf16ToUtf8(path, &name) || name != CalculatorPath())
        return kInvalidHandle;
    disk_ = native_.OpenDisk(Utf8ToUtf16(realPath_).c_str());
    return disk_;
}

FileHandle LoopCalculatorHost::OpenSourceFile(const WChar* path)
{
    return native_.OpenSourceFile(path);
}

std::int64_t LoopCalculatorHost::Seek(FileHandle file, std::int64_t offset, SeekFrom from)
{
    const std::int64_t at = native_.Seek(file, offset, from);
    if (file == disk_)
        position_ = at;
    return at;
}

bool LoopCalculatorHost::Read(FileHandle file, void* buffer, std::uint32_t length,
                              std::uint32_t* done)
{
    const bool ok = native_.Read(file, buffer, length, done);
    if (file == disk_)
        position_ += *done;
    return ok;
}

bool LoopCalculatorHost::Write(FileHandle file, const void* buffer, std::uint32_t length,
                               std::uint32_t* done)
{
    const bool mailbox = position_ == kMailboxOffset && length == 512;
    const Clock::time_point start = Clock::now();
    const bool ok = native_.Write(file, buffer, length, done);
    if (file == disk_ && !mailbox) {
        std::lock_guard<std::mutex> guard(lock_);
        if (writes_++ == 0)
            first_ = start;
        last_ = Clock::now();
    }
    if (file == disk_)
        position_ += *done;
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
    if (file == disk_)
        disk_ = kInvalidHandle;
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
