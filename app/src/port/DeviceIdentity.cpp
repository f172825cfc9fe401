#include "DeviceIdentity.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

// A small attribute file without its line end; empty when there is none.
std::string ReadAttr(const std::string& APath) {
  std::ifstream in(APath);
  std::string text;
  std::getline(in, text);
  while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string Canonical(const std::string& APath) {
  char buf[PATH_MAX];
  return realpath(APath.c_str(), buf) ? std::string(buf) : std::string();
}

}  // namespace

QString DeviceIdentity(const QString& APort, const QString& ASysRoot) {
  // Only a port's own name has a class entry; "pts/3" or a link's name
  // does not.
  if (APort.isEmpty() || APort.contains(u'/') || APort.startsWith(u'.')) return {};
  const std::string entry = (ASysRoot + QStringLiteral("/class/tty/") + APort).toStdString();
  // Virtual consoles and the pty master have a class entry but no device.
  if (access((entry + "/device").c_str(), F_OK) != 0) return {};
  const std::string path = Canonical(entry), root = Canonical(ASysRoot.toStdString());
  if (path.empty() || root.empty() || path.compare(0, root.size(), root) != 0) return {};
  // The USB device it belongs to, when it is on one: the nearest folder
  // up the tree with USB ids. Its serial number follows the device from
  // socket to socket; without one, the path (which names the socket) is
  // all there is.
  for (std::string dir = path; dir.size() > root.size() && dir.compare(0, root.size(), root) == 0;
       dir.erase(dir.rfind('/'))) {
    const std::string vendor = ReadAttr(dir + "/idVendor");
    if (vendor.empty()) continue;
    const std::string serial = ReadAttr(dir + "/serial");
    if (serial.empty()) break;
    return QString::fromStdString("usb " + vendor + ":" + ReadAttr(dir + "/idProduct") + " " + serial);
  }
  return QString::fromStdString("sysfs " + path.substr(root.size()));
}
