// Before anything of Qt's: GLib names a member "signals".
#include <umockdev.h>

#include "testbed.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

const std::string kUsbBus = "/devices/pci0000:00/0000:00:14.0/usb1";
const std::string kSataController = "/devices/pci0000:00/0000:00:17.0";

void ReplaceAll(std::string* text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text->find(from); at != std::string::npos;
         at = text->find(from, at + to.size()))
        text->replace(at, from.size(), to);
}

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(' ');
    const std::size_t last = text.find_last_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// udev's way of putting an inquiry string into a property: spaces inside become '_'.
std::string UdevValue(const std::string& text)
{
    std::string value = Trimmed(text);
    for (char& c : value)
        c = c == ' ' ? '_' : c;
    return value;
}

const char* kUsbDevice = R"(P: @usb@
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device
E: DRIVER=usb
E: ID_SERIAL_SHORT=@serial@
A: serial=@serial@
A: manufacturer=@vendor@
A: product=@model@
A: speed=480
A: busnum=1
A: devnum=@port@
A: bDeviceClass=00

P: @usb@/@port_name@:1.0
E: SUBSYSTEM=usb
E: DEVTYPE=usb_interface
E: DRIVER=usb-storage
A: bInterfaceClass=08
A: bInterfaceSubClass=06
A: bInterfaceProtocol=50

)";

const char* kScsiDisk = R"(P: @parent@/host@h@
E: SUBSYSTEM=scsi
E: DEVTYPE=scsi_host

P: @parent@/host@h@/target@h@:0:0
E: SUBSYSTEM=scsi
E: DEVTYPE=scsi_target

P: @scsi@
E: SUBSYSTEM=scsi
E: DEVTYPE=scsi_device
E: DRIVER=sd
A: type=0
A: scsi_level=7

P: @scsi@/block/@name@
N: @name@
E: SUBSYSTEM=block
E: DEVTYPE=disk
E: DEVNAME=/dev/@name@
E: MAJOR=@major@
E: MINOR=@minor@
E: ID_BUS=@bus@
E: ID_TYPE=disk
E: ID_VENDOR=@vendor@
E: ID_MODEL=@model@
E: ID_REVISION=@rev@
E: ID_SERIAL=@vendor@_@model@_@serial@-0:0
E: ID_SERIAL_SHORT=@serial@
A: dev=@major@:@minor@
A: size=@sectors@
A: removable=@removable@
A: ro=0
L: device=../../../@h@:0:0:0

)";

} // namespace

DiskIdentity CalculatorIdentity(const std::string& serial)
{
    return {true, "KZ      ", "Zenta update    ", "1.00", serial};
}

std::string DescribeDisk(const DiskIdentity& identity, const DiskPlacement& placement,
                         std::string* topPath, std::string* blockPath)
{
    const std::string portName = "1-" + std::to_string(placement.port);
    const std::string usb = kUsbBus + "/" + portName;
    const std::string parent = identity.usb
                                   ? usb + "/" + portName + ":1.0"
                                   : kSataController + "/ata" + std::to_string(placement.port);
    std::string text = (identity.usb ? std::string(kUsbDevice) : std::string()) + kScsiDisk;
    ReplaceAll(&text, "@scsi@", "@parent@/host@h@/target@h@:0:0/@h@:0:0:0");
    ReplaceAll(&text, "@parent@", parent);
    ReplaceAll(&text, "@usb@", usb);
    ReplaceAll(&text, "@port_name@", portName);
    ReplaceAll(&text, "@port@", std::to_string(placement.port));
    ReplaceAll(&text, "@h@", std::to_string(placement.scsiHost));
    ReplaceAll(&text, "@name@", placement.node);
    ReplaceAll(&text, "@major@", std::to_string(placement.major));
    ReplaceAll(&text, "@minor@", std::to_string(placement.minor));
    ReplaceAll(&text, "@sectors@", std::to_string(placement.sectors));
    ReplaceAll(&text, "@bus@", identity.usb ? "usb" : "ata");
    ReplaceAll(&text, "@removable@", identity.usb ? "1" : "0");
    ReplaceAll(&text, "@vendor@", UdevValue(identity.vendor));
    ReplaceAll(&text, "@model@", UdevValue(identity.model));
    ReplaceAll(&text, "@rev@", UdevValue(identity.revision));
    ReplaceAll(&text, "@serial@", identity.serial);
    const std::string host = parent + "/host" + std::to_string(placement.scsiHost);
    const std::string scsi = host + "/target" + std::to_string(placement.scsiHost) + ":0:0/" +
                             std::to_string(placement.scsiHost) + ":0:0:0";
    *topPath = "/sys" + (identity.usb ? usb : host);
    *blockPath = "/sys" + scsi + "/block/" + placement.node;
    return text;
}

Testbed::Testbed() : testbed_(umockdev_testbed_new()) {}

Testbed::~Testbed()
{
    // Takes the test bed's folder with it.
    g_object_unref(testbed_);
}

std::string Testbed::RootDir() const
{
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    std::string dir = root != nullptr ? root : "";
    g_free(root);
    return dir;
}

bool Testbed::AddDisk(const DiskIdentity& identity, const DiskPlacement& placement,
                      const std::string& nodeTarget, PluggedDisk* plugged, std::string* error)
{
    std::string top;
    std::string block;
    const std::string description = DescribeDisk(identity, placement, &top, &block);
    GError* failure = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, description.c_str(), &failure)) {
        *error = std::string("umockdev refused the disk: ") +
                 (failure != nullptr ? failure->message : "?");
        g_clear_error(&failure);
        return false;
    }
    // Set apart: the description format would not keep the padding.
    const std::string scsi = block.substr(0, block.rfind("/block/"));
    umockdev_testbed_set_attribute(testbed_, scsi.c_str(), "vendor", identity.vendor.c_str());
    umockdev_testbed_set_attribute(testbed_, scsi.c_str(), "model", identity.model.c_str());
    umockdev_testbed_set_attribute(testbed_, scsi.c_str(), "rev", identity.revision.c_str());
    const std::string node = RootDir() + "/dev/" + placement.node;
    if ((unlink(node.c_str()) != 0 && errno != ENOENT) ||
        symlink(nodeTarget.c_str(), node.c_str()) != 0) {
        *error = "cannot point " + node + " at " + nodeTarget;
        umockdev_testbed_remove_device(testbed_, top.c_str());
        return false;
    }
    const std::string link = RootDir() + "/sys/dev/block/" + std::to_string(placement.major) + ":" +
                             std::to_string(placement.minor);
    *plugged = {top, block, node, link};
    return true;
}

void Testbed::RemoveDisk(const PluggedDisk& plugged)
{
    umockdev_testbed_remove_device(testbed_, plugged.top.c_str());
    unlink(plugged.node.c_str());
    // Left behind otherwise; the device number may come back with the next disk plugged in.
    unlink(plugged.link.c_str());
}
