// setupapi.dll for tests under Wine; never installed, never shipped.
//
// Wine's SetupAPI lists no disk interfaces, so under Wine the Windows host finds no disks. A test
// puts this DLL (built as <build>/wine-rig/setupapi.dll) beside the program and runs it with
// WINEDLLOVERRIDES="setupapi=n,b". When ZENTA_WINE_INTERFACES holds the Windows path of a UTF-8
// text file, SetupDiGetClassDevsW for the disk interface class answers with a set of its own:
// the device interface paths in that file (one a line), read anew on every call because an
// emulator rewrites it as disks come and go; no file, no disks. The three calls the host makes on
// such a set answer as Windows does.
//
// Everything else goes to Wine's builtin setupapi.dll, loaded as a second module from the system
// folder: the four calls above for any other class or set (and for every call when the variable
// is unset), and every other export through the thunks make_thunks.cmake generates. The override
// covers the whole process, and Wine's own DLLs and Qt's platform plugin call many of those.

// The definitions below are the exports themselves, not imports.
#define _SETUPAPI_
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <setupapi.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

extern "C" {
// Defined by the generated thunks: one slot per forwarded export, first aimed at a stub that
// calls standin_missing_export with its name, and the names to look up in the builtin.
extern void* standin_slots[];
extern const char* const standin_names[];
extern const std::uint32_t standin_count;

[[noreturn]] void standin_missing_export(const char* name);
}

namespace {

// {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}, the disk interface class.
const GUID kDiskInterfaceClass = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
// {4D36E967-E325-11CE-BFC1-08002BE10318}, the class of disk drives, for SP_DEVINFO_DATA.
const GUID kDiskDriveClass = {
    0x4d36e967, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

const wchar_t kInterfacesVariable[] = L"ZENTA_WINE_INTERFACES";

using GetClassDevsW = HDEVINFO(WINAPI*)(const GUID*, PCWSTR, HWND, DWORD);
using EnumDeviceInterfaces = WINBOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD,
                                              PSP_DEVICE_INTERFACE_DATA);
using GetDeviceInterfaceDetailW = WINBOOL(WINAPI*)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                                                   PSP_DEVICE_INTERFACE_DETAIL_DATA_W, DWORD,
                                                   PDWORD, PSP_DEVINFO_DATA);
using DestroyDeviceInfoList = WINBOOL(WINAPI*)(HDEVINFO);

// Set once, while the loader runs DllMain, before any call can arrive.
HMODULE builtinModule = nullptr;
DWORD builtinLoadError = NO_ERROR;
GetClassDevsW builtinGetClassDevsW = nullptr;
EnumDeviceInterfaces builtinEnumDeviceInterfaces = nullptr;
GetDeviceInterfaceDetailW builtinGetDeviceInterfaceDetailW = nullptr;
DestroyDeviceInfoList builtinDestroyDeviceInfoList = nullptr;

// A set of this DLL's own: the paths, fixed once read. A member's SP_DEVICE_INTERFACE_DATA
// carries the address of its path in Reserved, which names both the set and the member.
struct DiskSet {
    std::vector<std::wstring> paths;
};

SRWLOCK setsLock = SRWLOCK_INIT;
std::set<const void*>* sets = nullptr; // allocated on first use, never freed: no exit-order risk

class SetsGuard {
public:
    SetsGuard() { ::AcquireSRWLockExclusive(&setsLock); }
    ~SetsGuard() { ::ReleaseSRWLockExclusive(&setsLock); }
    SetsGuard(const SetsGuard&) = delete;
    SetsGuard& operator=(const SetsGuard&) = delete;
};

DiskSet* OwnSet(HDEVINFO handle)
{
    SetsGuard guard;
    if (sets == nullptr || sets->count(handle) == 0)
        return nullptr;
    return static_cast<DiskSet*>(handle);
}

template <typename Function> Function Resolve(const char* name)
{
    if (builtinModule == nullptr)
        return nullptr;
    // Through void (*)(), the one function type a cast may go to and from without a warning.
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(::GetProcAddress(builtinModule, name)));
}

template <typename Function> Function Builtin(Function function, const char* name)
{
    if (function == nullptr)
        standin_missing_export(name);
    return function;
}

void LoadBuiltin()
{
    wchar_t path[MAX_PATH + 16];
    const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        builtinLoadError = length == 0 ? ::GetLastError() : ERROR_BUFFER_OVERFLOW;
        return;
    }
    // By its full path: the name alone would find this DLL again.
    lstrcpyW(path + length, L"\\setupapi.dll");
    builtinModule = ::LoadLibraryW(path);
    if (builtinModule == nullptr) {
        builtinLoadError = ::GetLastError();
        return;
    }
    for (std::uint32_t i = 0; i < standin_count; ++i) {
        if (FARPROC function = ::GetProcAddress(builtinModule, standin_names[i]))
            standin_slots[i] = reinterpret_cast<void*>(function);
    }
    builtinGetClassDevsW = Resolve<GetClassDevsW>("SetupDiGetClassDevsW");
    builtinEnumDeviceInterfaces = Resolve<EnumDeviceInterfaces>("SetupDiEnumDeviceInterfaces");
    builtinGetDeviceInterfaceDetailW =
        Resolve<GetDeviceInterfaceDetailW>("SetupDiGetDeviceInterfaceDetailW");
    builtinDestroyDeviceInfoList = Resolve<DestroyDeviceInfoList>("SetupDiDestroyDeviceInfoList");
}

// The file named by the variable; false when it is unset or empty.
bool InterfacesFile(std::wstring& file)
{
    const DWORD size = ::GetEnvironmentVariableW(kInterfacesVariable, nullptr, 0);
    if (size <= 1)
        return false;
    file.assign(size, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(kInterfacesVariable, &file[0], size);
    if (length == 0 || length >= size)
        return false;
    file.resize(length);
    return true;
}

bool Utf16Of(const char* text, int bytes, std::wstring& out)
{
    const int chars = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, bytes, nullptr, 0);
    if (chars <= 0)
        return false;
    out.assign(static_cast<std::size_t>(chars), L'\0');
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, bytes, &out[0], chars) ==
           chars;
}

// The paths in the file: one a line, empty lines skipped, a trailing CR dropped, and a line that
// is no valid UTF-8 left out rather than listed garbled. A missing file lists nothing; false
// (with the last error set) only when the file is there but cannot be read.
bool ReadPaths(const std::wstring& file, std::vector<std::wstring>& paths)
{
    const HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    bool ok = true;
    for (;;) {
        if (!::ReadFile(handle, chunk, sizeof(chunk), &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        bytes.append(chunk, got);
    }
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    if (!ok) {
        ::SetLastError(error);
        return false;
    }

    std::size_t begin = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (begin < bytes.size()) {
        std::size_t end = bytes.find('\n', begin);
        if (end == std::string::npos)
            end = bytes.size();
        std::size_t last = end;
        if (last > begin && bytes[last - 1] == '\r')
            --last;
        std::wstring path;
        if (last > begin && Utf16Of(bytes.data() + begin, static_cast<int>(last - begin), path))
            paths.push_back(std::move(path));
        begin = end + 1;
    }
    return true;
}

bool IsDiskInterfaceQuery(const GUID* classGuid, DWORD flags)
{
    // DIGCF_ALLCLASSES ignores the class: that is a query for everything, the builtin's.
    return classGuid != nullptr && IsEqualGUID(*classGuid, kDiskInterfaceClass) &&
           (flags & DIGCF_DEVICEINTERFACE) != 0 && (flags & DIGCF_ALLCLASSES) == 0;
}

// The member an SP_DEVICE_INTERFACE_DATA names, or null when it names none of this set's.
const std::wstring* MemberOf(const DiskSet& set, const SP_DEVICE_INTERFACE_DATA* data)
{
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return nullptr;
    for (const std::wstring& path : set.paths) {
        if (data->Reserved == reinterpret_cast<ULONG_PTR>(&path))
            return &path;
    }
    return nullptr;
}

} // namespace

extern "C" {

[[noreturn]] void standin_missing_export(const char* name)
{
    // Loud and with a code of its own, so that a test sees which call it lacks.
    std::string message = "setupapi stand-in: ";
    message += name;
    if (builtinModule == nullptr)
        message += " called, but Wine's builtin setupapi.dll did not load (error " +
                   std::to_string(builtinLoadError) + ")\n";
    else
        message += " called, but Wine's builtin setupapi.dll has no such export\n";
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    if (err != nullptr && err != INVALID_HANDLE_VALUE)
        ::WriteFile(err, message.data(), static_cast<DWORD>(message.size()), &written, nullptr);
    ::OutputDebugStringA(message.c_str());
    ::ExitProcess(3);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        ::DisableThreadLibraryCalls(instance);
        LoadBuiltin();
    }
    return TRUE;
}

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND parent,
                                     DWORD flags)
{
    std::wstring file;
    if (!IsDiskInterfaceQuery(classGuid, flags) || !InterfacesFile(file))
        return Builtin(builtinGetClassDevsW, "SetupDiGetClassDevsW")(classGuid, enumerator, parent,
                                                                     flags);
    try {
        auto set = std::make_unique<DiskSet>();
        if (!ReadPaths(file, set->paths))
            return INVALID_HANDLE_VALUE;
        SetsGuard guard;
        if (sets == nullptr)
            sets = new std::set<const void*>;
        sets->insert(set.get());
        ::SetLastError(NO_ERROR);
        return set.release();
    } catch (const std::bad_alloc&) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
}

WINBOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA device,
                                           const GUID* interfaceClass, DWORD index,
                                           PSP_DEVICE_INTERFACE_DATA data)
{
    const DiskSet* set = OwnSet(handle);
    if (set == nullptr)
        return Builtin(builtinEnumDeviceInterfaces,
                       "SetupDiEnumDeviceInterfaces")(handle, device, interfaceClass, index, data);
    if (data == nullptr || interfaceClass == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        ::SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    // The set holds interfaces only, no device that could narrow the search.
    if (device != nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!IsEqualGUID(*interfaceClass, kDiskInterfaceClass) || index >= set->paths.size()) {
        ::SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = kDiskInterfaceClass;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = reinterpret_cast<ULONG_PTR>(&set->paths[index]);
    ::SetLastError(NO_ERROR);
    return TRUE;
}

WINBOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                                PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                                DWORD detailSize, PDWORD requiredSize,
                                                PSP_DEVINFO_DATA device)
{
    const DiskSet* set = OwnSet(handle);
    if (set == nullptr)
        return Builtin(builtinGetDeviceInterfaceDetailW, "SetupDiGetDeviceInterfaceDetailW")(
            handle, data, detail, detailSize, requiredSize, device);
    const std::wstring* path = MemberOf(*set, data);
    if (path == nullptr || (detail == nullptr && detailSize != 0)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    constexpr DWORD kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    // A buffer that cannot hold cbSize and an empty path is no detail record, as on Windows.
    if (detail != nullptr && (detailSize < kPathOffset + sizeof(WCHAR) ||
                              detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))) {
        ::SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (device != nullptr && device->cbSize != sizeof(SP_DEVINFO_DATA)) {
        ::SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (path->size() >= (MAXDWORD - kPathOffset) / sizeof(WCHAR)) {
        ::SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    const DWORD required = kPathOffset + static_cast<DWORD>((path->size() + 1) * sizeof(WCHAR));
    if (requiredSize != nullptr)
        *requiredSize = required;
    if (detail == nullptr || detailSize < required) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    // Past the declared one-element DevicePath: the caller's buffer is that long.
    BYTE* out = reinterpret_cast<BYTE*>(detail) + kPathOffset;
    std::memcpy(out, path->c_str(), (path->size() + 1) * sizeof(WCHAR));
    if (device != nullptr) {
        device->ClassGuid = kDiskDriveClass;
        device->DevInst = 0;
        device->Reserved = data->Reserved;
    }
    ::SetLastError(NO_ERROR);
    return TRUE;
}

WINBOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle)
{
    bool own = false;
    {
        SetsGuard guard;
        own = sets != nullptr && sets->erase(handle) != 0;
    }
    if (!own)
        return Builtin(builtinDestroyDeviceInfoList, "SetupDiDestroyDeviceInfoList")(handle);
    delete static_cast<DiskSet*>(handle);
    ::SetLastError(NO_ERROR);
    return TRUE;
}

} // extern "C"
