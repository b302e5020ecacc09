#include "wine_devices.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

const char* const kDiskClass = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

// Windows' way of putting an inquiry string into a device id: the padding goes, spaces inside
// become '_'; interface paths are in lower case.
std::string IdPart(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(' ');
    const std::size_t last = text.find_last_not_of(' ');
    std::string part = first == std::string::npos ? "" : text.substr(first, last - first + 1);
    for (char& c : part)
        c = c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return part;
}

} // namespace

std::string WindowsInterfacePath(const DiskIdentity& identity, int instance)
{
    const std::string ids = "disk&ven_" + IdPart(identity.vendor) + "&prod_" +
                            IdPart(identity.model) + "&rev_" + IdPart(identity.revision);
    // The USB storage driver names the instance after the device's serial; a SATA disk's
    // instance is its place on the bus.
    if (identity.usb)
        return "\\\\?\\usbstor#" + ids + "#" + IdPart(identity.serial) + "&0#" + kDiskClass;
    return "\\\\?\\scsi#" + ids + "#4&2f3b1a&0&00000" + std::to_string(instance) + "#" + kDiskClass;
}

std::string WindowsPath(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

WineDevices::WineDevices(std::string prefix, std::string listFile)
    : prefix_(std::move(prefix)), listFile_(std::move(listFile))
{
}

WineDevices::~WineDevices()
{
    for (const std::string& path : present_)
        unlink(DeviceName(path).c_str());
    unlink(listFile_.c_str());
}

bool WineDevices::Start(std::string* error)
{
    if (access((prefix_ + "/dosdevices").c_str(), W_OK) != 0) {
        *error = "no Wine prefix at " + prefix_ + " (its dosdevices folder is missing)";
        return false;
    }
    return WriteList(error);
}

// Wine opens "\\?\NAME" and "\\.\NAME" as dosdevices/NAME, in lower case.
std::string WineDevices::DeviceName(const std::string& path) const
{
    std::string name = path.substr(path.rfind("\\\\?\\", 0) == 0 ? 4 : 0);
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return prefix_ + "/dosdevices/" + name;
}

bool WineDevices::Add(const std::string& path, const std::string& target, std::string* error)
{
    const std::string name = DeviceName(path);
    unlink(name.c_str());
    if (symlink(target.c_str(), name.c_str()) != 0) {
        *error = "cannot make the Wine device " + name + ": " + std::strerror(errno);
        return false;
    }
    present_.push_back(path);
    return WriteList(error);
}

void WineDevices::Remove(const std::string& path)
{
    const auto found = std::find(present_.begin(), present_.end(), path);
    if (found == present_.end())
        return;
    present_.erase(found);
    std::string ignored;
    WriteList(&ignored);
    unlink(DeviceName(path).c_str());
}

// Whole or not at all: the stand-in may read the list at any moment.
bool WineDevices::WriteList(std::string* error) const
{
    const std::string temporary = listFile_ + ".new";
    FILE* file = std::fopen(temporary.c_str(), "w");
    bool written = file != nullptr;
    for (const std::string& path : present_)
        written = written && std::fprintf(file, "%s\n", path.c_str()) > 0;
    written = file != nullptr && std::fclose(file) == 0 && written;
    if (!written || std::rename(temporary.c_str(), listFile_.c_str()) != 0) {
        *error = "cannot write the list of disk interfaces " + listFile_;
        return false;
    }
    return true;
}
