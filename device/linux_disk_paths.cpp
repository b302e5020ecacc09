// Interface paths for Linux disks in the form Windows gives them, so that the engine's
// search pattern finds a calculator on both.
#include "device/linux_disk_paths.h"

#include "device/engine.h"

#include <cstdint>
#include <map>

namespace {

// The class of disk device interfaces, which ends every disk interface path on Windows.
const char kDiskInterfaceClass[] = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsKept(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
}

const char* BusName(DiskBus bus)
{
    switch (bus) {
    case DiskBus::Usb:
        return "usbstor";
    case DiskBus::Scsi:
        return "scsi";
    case DiskBus::Nvme:
        return "nvme";
    case DiskBus::Virtio:
        return "virtio";
    case DiskBus::Mmc:
        return "mmc";
    case DiskBus::Other:
        break;
    }
    return "other";
}

// SCSI pads the inquiry strings with spaces to their fields' widths; only that padding goes.
std::string WithoutPadding(const std::string& text)
{
    const std::size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

} // namespace

bool IsCalculatorLookalike(const std::string& vendor, const std::string& product)
{
    const bool folds = SanitizeIdPart(vendor) == SanitizeIdPart(kCalculatorVendorId) &&
                       SanitizeIdPart(product) == SanitizeIdPart(kCalculatorProductId);
    return folds && (WithoutPadding(vendor) != kCalculatorVendorId ||
                     WithoutPadding(product) != kCalculatorProductId);
}

std::string SanitizeIdPart(const std::string& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    std::string result;
    result.reserve(end - begin);
    for (std::size_t i = begin; i < end; ++i) {
        char c = IsKept(text[i]) ? text[i] : '_';
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        result += c;
    }
    return result;
}

std::string MadeUpInstanceId(const std::string& location)
{
    // FNV-1a: the same on every machine and in every run, unlike std::hash.
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : location) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    static const char digits[] = "0123456789abcdef";
    std::string result = "0&";
    for (int shift = 60; shift >= 0; shift -= 4)
        result += digits[(hash >> shift) & 0xf];
    return result;
}

std::string DiskInterfacePathOf(const LinuxDiskInfo& disk, bool useMadeUpId)
{
    std::string instance;
    if (disk.bus == DiskBus::Usb && !useMadeUpId)
        instance = SanitizeIdPart(disk.serial);
    if (instance.empty())
        instance = MadeUpInstanceId(disk.location);
    std::string path = "\\\\?\\";
    path += BusName(disk.bus);
    path += "#disk&ven_";
    // No sanitized string holds a '~': a look-alike's path never holds a calculator's ids.
    if (IsCalculatorLookalike(disk.vendor, disk.product))
        path += '~';
    path += SanitizeIdPart(disk.vendor);
    path += "&prod_";
    path += SanitizeIdPart(disk.product);
    path += "&rev_";
    path += SanitizeIdPart(disk.revision);
    path += '#';
    path += instance;
    path += '&';
    path += std::to_string(disk.lun);
    path += '#';
    path += kDiskInterfaceClass;
    return path;
}

std::vector<std::string> DiskInterfacePathsOf(const std::vector<LinuxDiskInfo>& disks)
{
    std::vector<std::string> paths;
    paths.reserve(disks.size());
    std::map<std::string, int> uses;
    for (const LinuxDiskInfo& disk : disks) {
        paths.push_back(DiskInterfacePathOf(disk));
        ++uses[paths.back()];
    }
    std::map<std::string, int> finalUses;
    for (std::size_t i = 0; i < disks.size(); ++i) {
        if (uses[paths[i]] > 1)
            paths[i] = DiskInterfacePathOf(disks[i], true);
        ++finalUses[paths[i]];
    }
    for (std::string& path : paths) {
        if (finalUses[path] > 1)
            path.clear();
    }
    return paths;
}
