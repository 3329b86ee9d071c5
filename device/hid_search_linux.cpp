// The device search over hidraw: every /sys/class/hidraw node, in node order,
// whose parent HID device reports the wanted IDs and whose /dev node opens for
// reading and writing.
#include "device_presence.h"
#include "hid_search_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace {
constexpr char kHidrawClassDir[] = "/sys/class/hidraw";
constexpr char kHidrawPrefix[] = "hidraw";
constexpr char kHidIdKey[] = "HID_ID=";

// Parses 1 to 8 hex digits from text[pos] up to the delimiter; advances pos.
bool ParseHexField(const std::string& text, std::size_t& pos, char delimiter,
                   std::uint32_t& value) {
  std::uint32_t result = 0;
  std::size_t digits = 0;
  for (; pos < text.size() && text[pos] != delimiter; ++pos, ++digits) {
    const char c = text[pos];
    std::uint32_t digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    if (digits == 8) return false;
    result = (result << 4) | digit;
  }
  if (digits == 0) return false;
  value = result;
  return true;
}

// The number N of "hidrawN", or -1 for any other name.
long HidrawNodeNumber(const std::string& name) {
  const std::size_t prefix = std::strlen(kHidrawPrefix);
  if (name.size() <= prefix || name.compare(0, prefix, kHidrawPrefix) != 0) return -1;
  if (name.size() - prefix > 9) return -1;
  long number = 0;
  for (std::size_t i = prefix; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

bool ReadWholeFile(const std::string& path, std::string& text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream contents;
  contents << file.rdbuf();
  text = contents.str();
  return true;
}

// The IDs come from sysfs, which needs no handle, so only a node whose IDs
// match is opened: the search never touches other programs' devices.
bool InterfaceMatches(const std::string& node, std::uint32_t vendor_id,
                      std::uint32_t product_id) {
  std::string uevent;
  if (!ReadWholeFile(std::string(kHidrawClassDir) + "/" + node + "/device/uevent", uevent)) {
    return false;
  }
  if (!AttributesMatch(uevent, vendor_id, product_id)) return false;
  const std::string device_path = "/dev/" + node;
  const int fd = open(device_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
}  // namespace

bool ParseHidId(const std::string& uevent_text, std::uint32_t& vendor_id,
                std::uint32_t& product_id) {
  std::size_t line = 0;
  while (line < uevent_text.size()) {
    std::size_t line_end = uevent_text.find('\n', line);
    if (line_end == std::string::npos) line_end = uevent_text.size();
    if (uevent_text.compare(line, std::strlen(kHidIdKey), kHidIdKey) == 0) {
      const std::string fields =
          uevent_text.substr(line + std::strlen(kHidIdKey), line_end - line - std::strlen(kHidIdKey));
      std::size_t pos = 0;
      std::uint32_t bus, vendor, product;
      if (!ParseHexField(fields, pos, ':', bus) || pos++ == fields.size()) return false;
      if (!ParseHexField(fields, pos, ':', vendor) || pos++ == fields.size()) return false;
      if (!ParseHexField(fields, pos, ':', product) || pos != fields.size()) return false;
      vendor_id = vendor;
      product_id = product;
      return true;
    }
    line = line_end + 1;
  }
  return false;
}

bool AttributesMatch(const std::string& uevent_text, std::uint32_t vendor_id,
                     std::uint32_t product_id) {
  std::uint32_t vendor = 0, product = 0;
  return ParseHidId(uevent_text, vendor, product) && vendor == vendor_id &&
         product == product_id;
}

std::vector<std::string> OrderHidrawNodes(std::vector<std::string> names) {
  names.erase(std::remove_if(names.begin(), names.end(),
                             [](const std::string& name) { return HidrawNodeNumber(name) < 0; }),
              names.end());
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return HidrawNodeNumber(a) < HidrawNodeNumber(b);
  });
  return names;
}

bool FindHidDevice(std::uint32_t vendor_id, std::uint32_t product_id) {
  std::unique_ptr<DIR, DirCloser> dir(opendir(kHidrawClassDir));
  if (!dir) return false;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir.get())) names.emplace_back(entry->d_name);
  for (const std::string& node : OrderHidrawNodes(std::move(names))) {
    if (InterfaceMatches(node, vendor_id, product_id)) return true;
  }
  return false;
}

void PauseMilliseconds(unsigned milliseconds) {
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
  // A signal must not cut the pause short: the wait is part of the contract.
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}
