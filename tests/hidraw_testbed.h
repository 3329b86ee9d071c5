// Device descriptions for umockdev, laid out like a real sysfs tree: the
// hidraw node under its HID device, with the node's `device` link to it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct EmulatedHidraw {
  unsigned node = 0;  // hidrawN
  std::uint32_t vendor_id = 0x28DE;
  std::uint32_t product_id = 0x2300;
  bool has_dev_node = true;  // false: the /dev entry is gone, so it cannot be opened
  std::string hid_id_line;   // overrides the HID_ID=... line when not empty
};

inline std::string HidDeviceName(const EmulatedHidraw& device) {
  char name[64];
  std::snprintf(name, sizeof name, "0003:%04X:%04X.%04X", device.vendor_id & 0xFFFF,
                device.product_id & 0xFFFF, device.node + 1);
  return name;
}

inline std::string DescribeHidraw(const EmulatedHidraw& device) {
  const std::string hid = HidDeviceName(device);
  const std::string usb_port = "1-" + std::to_string(device.node + 1);
  const std::string hid_path =
      "/devices/pci0000:00/0000:00:14.0/usb1/" + usb_port + "/" + usb_port + ":1.0/" + hid;
  const std::string node = "hidraw" + std::to_string(device.node);
  char hid_id[64];
  std::snprintf(hid_id, sizeof hid_id, "HID_ID=0003:%08X:%08X", device.vendor_id,
                device.product_id);
  const std::string hid_id_line = device.hid_id_line.empty() ? hid_id : device.hid_id_line;

  std::string text = "P: " + hid_path + "/hidraw/" + node + "\n";
  if (device.has_dev_node) text += "N: " + node + "\n";
  text += "L: device=../../../" + hid + "\n";
  text += "E: DEVNAME=/dev/" + node + "\n";
  text += "E: SUBSYSTEM=hidraw\n\n";
  text += "P: " + hid_path + "\n";
  text += "E: DRIVER=hid-generic\n";
  text += "E: HID_NAME=Emulated HID device\n";
  text += "E: SUBSYSTEM=hid\n";
  // The uevent is written whole, so that a malformed HID_ID line stays as given.
  text += "A: uevent=DRIVER=hid-generic\\n" + hid_id_line + "\\nHID_NAME=Emulated HID device\\n\n\n";
  return text;
}

inline std::string DescribeHidraws(const std::vector<EmulatedHidraw>& devices) {
  std::string text;
  for (const EmulatedHidraw& device : devices) text += DescribeHidraw(device);
  return text;
}
