// The host contract on the Windows host, on the real Win32 API (under Wine in the cross build).
// Source files live in a temporary folder. The disk cases run only on a disk named by
// QUILLON_CONTRACT_DISK (an interface path the enumeration lists; under Wine the rig of
// tests/wine lists a scratch image there), never on any other: the host would write it.
// QUILLON_CONTRACT_DISK_SIZE gives its size where the system can tell it; Wine answers no size
// query, and the cases then leave out what happens at the disk's end.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "device/engine.h"
#include "host_contract_tests.h"

#include <string>
#include <vector>

namespace {

class Win32Factory : public HostContractFactory {
public:
    Win32Factory()
    {
        wchar_t base[MAX_PATH];
        ::GetTempPathW(MAX_PATH, base);
        folder_ =
            std::wstring(base) + L"quillon-contract-" + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(folder_.c_str(), nullptr);
    }
    ~Win32Factory() override
    {
        for (const std::wstring& file : files_)
            ::DeleteFileW(file.c_str());
        ::RemoveDirectoryW(folder_.c_str());
    }

    const char* Name() const override { return "Windows"; }
    Host& TheHost() override { return NativeHost(); }

    String16 MakeSourceFile(const std::vector<unsigned char>& bytes) override
    {
        files_.push_back(folder_ + L"\\source-" + std::to_wstring(files_.size()) + L".rom");
        const HANDLE file = ::CreateFileW(files_.back().c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (file != INVALID_HANDLE_VALUE) {
            ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
            ::CloseHandle(file);
        }
        return files_.back();
    }

    String16 MissingFile() override { return folder_ + L"\\missing.rom"; }

    ContractDisk Disk() override
    {
        const std::wstring path = Variable(L"QUILLON_CONTRACT_DISK");
        if (path.empty())
            return {String16(), 0,
                    "no scratch disk named (QUILLON_CONTRACT_DISK): no other disk may be written"};
        if (!Listed(path))
            return {String16(), 0, "the disk named by QUILLON_CONTRACT_DISK is not listed"};
        const std::wstring size = Variable(L"QUILLON_CONTRACT_DISK_SIZE");
        return {path, size.empty() ? -1 : std::stoll(size), ""};
    }

    // Another opener that shares nothing: the system refuses the host's open while it lasts.
    bool HoldDisk(bool hold) override
    {
        if (hold && holder_ == INVALID_HANDLE_VALUE) {
            const std::wstring path = Variable(L"QUILLON_CONTRACT_DISK");
            holder_ =
                ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        }
        if (!hold && holder_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(holder_);
            holder_ = INVALID_HANDLE_VALUE;
        }
        return !hold || holder_ != INVALID_HANDLE_VALUE;
    }

private:
    static std::wstring Variable(const wchar_t* name)
    {
        wchar_t value[1024];
        const DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
        return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
    }

    // The host opens only what its latest enumeration gave: one runs here.
    bool Listed(const std::wstring& path)
    {
        Host& host = NativeHost();
        void* list = host.BeginDiskInterfaces();
        bool found = false;
        WChar listed[kDiskPathChars];
        for (int i = 0; list != nullptr && !found; ++i) {
            const InterfaceStatus status = host.DiskInterfacePath(list, i, listed, kDiskPathChars);
            if (status == InterfaceStatus::End)
                break;
            found = status == InterfaceStatus::Ok && path == listed;
        }
        host.EndDiskInterfaces(list);
        return found;
    }

    std::wstring folder_;
    std::vector<std::wstring> files_;
    HANDLE holder_ = INVALID_HANDLE_VALUE;
};

} // namespace

int main(int argc, char** argv)
{
    Win32Factory factory;
    return RunHostContract(factory, argc > 1 ? argv[1] : "") == 0 ? 0 : 1;
}
