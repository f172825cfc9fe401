// USB card readers for the tests, where the machine has none: under
// umockdev's preload library it keeps a test bed, a sysfs tree of its own
// that every program run with the same preload and UMOCKDEV_DIR sees as
// /sys, and sends the device events of readers plugged in and pulled out
// to those programs. A reader is a USB serial device, an FTDI reader unless
// told otherwise; its serial port's device node in the bed is a link to a
// device of the test's own (a pty that plays the reader), on which the
// programs' calls act directly.
//
// Commands on stdin, one per line, each answered on stdout by "ok" (or
// "error <what>"):
//   plug <usb device> <serial number> <tty> <device> [<vendor>:<product>]
//       e.g. plug 1-1 R1 ttyUSB0 /dev/pts/3, or plug 1-2 - ttyUSB0 /dev/pts/4 067b:2303
//       (the serial number "-": the device has none; the ids are the reader's,
//       0403:1234, unless given)
//   unplug <usb device> <tty>
//   pull-at-open <usb device> <tty>
//       the device's files and events go at the next call a program makes on
//       its node, in the middle of opening it; its node stays until unplug
// It prints "ready <test bed folder>" first, and ends when stdin closes.
//
//   LD_PRELOAD=libumockdev-preload.so.0 sorvex_usb_bed
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <umockdev.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>

namespace {

std::string UsbPath(const std::string& ADevice) { return "/sys/devices/pci0000:00/usb1/" + ADevice; }

// A USB device's vendor and product ids as sysfs shows them ("0403", "1234").
struct UsbIds {
  std::string vendor = "0403", product = "1234";
  // As the device's events give them: "403/1234/600".
  std::string EventText() const {
    std::ostringstream t;
    t << std::hex << std::stoul(vendor, nullptr, 16) << "/" << std::stoul(product, nullptr, 16) << "/600";
    return t.str();
  }
};

// "067b:2303": four hex digits each.
bool ParseIds(const std::string& AText, UsbIds& AIds) {
  if (AText.size() != 9 || AText[4] != ':') return false;
  AIds = {AText.substr(0, 4), AText.substr(5)};
  return (AIds.vendor + AIds.product).find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The device, its interface 0, the serial port the driver makes on it and
// that port's tty, laid out as the kernel lays them out. The device's event
// names its product only once all of it is there (see Plug).
std::string Description(const std::string& ADevice, const std::string& ASerial, const std::string& ATty,
                        const UsbIds& AIds) {
  const std::string usb = UsbPath(ADevice).substr(4);
  const std::string intf = usb + "/" + ADevice + ":1.0";
  std::ostringstream d;
  d << "P: " << usb << "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
    << "A: idVendor=" << AIds.vendor << "\nA: idProduct=" << AIds.product << "\n";
  if (ASerial != "-") d << "A: serial=" << ASerial << "\n";
  d << "A: product=Card reader\n\n"
    << "P: " << intf << "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber=00\n\n"
    << "P: " << intf << "/" << ATty << "\nE: SUBSYSTEM=usb-serial\n\n"
    << "P: " << intf << "/" << ATty << "/tty/" << ATty << "\nE: SUBSYSTEM=tty\nA: dev=188:0\nL: device=../../../"
    << ATty << "\n";
  return d.str();
}

struct Bed {
  UMockdevTestbed* testbed;
  std::string dir;
  // The calls on the nodes are served on a thread of umockdev's own.
  std::mutex lock;
  // The node whose next call pulls its reader out, and that reader.
  std::string pullAtOpen, pullDevice, pullTty;
};

// A reader's devices go as the kernel takes them away: children first, each
// device's event just before it goes (the event is built from its files);
// the tty's class entry goes before its event, so that a program that lists
// the ports on that event no longer finds it. Devices gone already are
// passed by.
void RemoveDevices(Bed& ABed, const std::string& ADevice, const std::string& ATty) {
  const std::string usb = UsbPath(ADevice), port = usb + "/" + ADevice + ":1.0/" + ATty;
  unlink((ABed.dir + "/sys/class/tty/" + ATty).c_str());
  for (const std::string& p : {port + "/tty/" + ATty, port, usb + "/" + ADevice + ":1.0", usb}) {
    struct stat st {};
    if (stat((ABed.dir + p).c_str(), &st) != 0) continue;
    umockdev_testbed_uevent(ABed.testbed, p.c_str(), "remove");
    umockdev_testbed_remove_device(ABed.testbed, p.c_str());
  }
}

// Calls on a node of the bed go to the bed; the readers' nodes stand for
// real devices, so every call is made on the device itself.
gboolean PassThrough(UMockdevIoctlBase*, UMockdevIoctlClient* AClient, gpointer AUser) {
  auto& bed = *static_cast<Bed*>(AUser);
  {
    std::lock_guard<std::mutex> hold(bed.lock);
    if (!bed.pullAtOpen.empty() && bed.pullAtOpen == umockdev_ioctl_client_get_devnode(AClient)) {
      RemoveDevices(bed, bed.pullDevice, bed.pullTty);
      bed.pullAtOpen.clear();
    }
  }
  gint err = 0;
  const gint result = umockdev_ioctl_client_execute(AClient, &err, nullptr);
  umockdev_ioctl_client_complete(AClient, result, err);
  return TRUE;
}

// The node: a link to the device, and the device's own numbers for it (the
// preload reports a bed's node by the numbers it notes for it).
bool MakeNode(const std::string& ADir, const std::string& ATty, const std::string& ADevice) {
  struct stat st {};
  if (stat(ADevice.c_str(), &st) != 0) return false;
  const std::string numbers = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  const std::string node = ADir + "/dev/" + ATty, noted = ADir + "/dev/.node/" + ATty;
  unlink(node.c_str());
  unlink(noted.c_str());
  return symlink(numbers.c_str(), noted.c_str()) == 0 && symlink(ADevice.c_str(), node.c_str()) == 0;
}

}  // namespace

int main() {
  Bed state;
  UMockdevTestbed* const bed = state.testbed = umockdev_testbed_new();
  // Without the preload the bed's events would not find its devices.
  if (!umockdev_in_mock_environment()) {
    std::cerr << "sorvex_usb_bed: run me with umockdev's preload library\n";
    g_object_unref(bed);
    return 2;
  }
  const std::string dir = state.dir = getenv("UMOCKDEV_DIR");
  mkdir((dir + "/dev").c_str(), 0755);
  mkdir((dir + "/dev/.node").c_str(), 0755);
  UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
  g_signal_connect(handler, "handle-ioctl", G_CALLBACK(PassThrough), &state);

  std::cout << "ready " << dir << std::endl;
  for (std::string line; std::getline(std::cin, line);) {
    std::istringstream in(line);
    std::string what, device, serial, tty, node, ids;
    in >> what >> device;
    GError* error = nullptr;
    bool ok = false;
    UsbIds usbIds;
    std::lock_guard<std::mutex> hold(state.lock);
    if (what == "plug" && in >> serial >> tty >> node && (!(in >> ids) || ParseIds(ids, usbIds))) {
      // Adding a device sends its "add" at once, before its children are
      // there; a program would be told of a reader whose port is still
      // being made. So the device's first "add" names no product, which
      // a program passes by; its tty's "add", the last of its devices, and
      // the device's "add" sent again, naming its product, tell of it once
      // the node and all the devices are in place.
      const std::string usb = UsbPath(device);
      ok = MakeNode(dir, tty, node) && umockdev_testbed_attach_ioctl(bed, ("/dev/" + tty).c_str(), handler, &error) &&
           umockdev_testbed_add_from_string(bed, Description(device, serial, tty, usbIds).c_str(), &error);
      if (ok) {
        umockdev_testbed_set_property(bed, usb.c_str(), "PRODUCT", usbIds.EventText().c_str());
        umockdev_testbed_uevent(bed, usb.c_str(), "add");
      }
    } else if (what == "unplug" && in >> tty) {
      RemoveDevices(state, device, tty);
      ok = umockdev_testbed_detach_ioctl(bed, ("/dev/" + tty).c_str(), &error);
      unlink((dir + "/dev/" + tty).c_str());
      unlink((dir + "/dev/.node/" + tty).c_str());
    } else if (what == "pull-at-open" && in >> tty) {
      state.pullAtOpen = "/dev/" + tty;
      state.pullDevice = device;
      state.pullTty = tty;
      ok = true;
    }
    if (ok) {
      std::cout << "ok" << std::endl;
    } else {
      std::cout << "error " << (error ? error->message : line.c_str()) << std::endl;
    }
    if (error) g_error_free(error);
  }
  g_object_unref(handler);
  g_object_unref(bed);
  return 0;
}
