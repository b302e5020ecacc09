// The host contract on the Windows host, on the real Win32 API (under Wine in the cross build).
// Source files live in a temporary folder; no disk is ever written here: the host opens for raw
// I/O only the disks its enumeration lists, which are real disks where there are any.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

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
        return {String16(), 0,
                "no disk may be written here: the host opens only the disks "
                "SetupAPI lists (Wine lists none)"};
    }

    bool HoldDisk(bool) override { return false; }

private:
    std::wstring folder_;
    std::vector<std::wstring> files_;
};

} // namespace

int main(int argc, char** argv)
{
    Win32Factory factory;
    return RunHostContract(factory, argc > 1 ? argv[1] : "") == 0 ? 0 : 1;
}
