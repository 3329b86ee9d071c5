// One device search against hidapi's enumeration of the same umockdev
// testbed, for N HID interfaces with the wanted one last in node order, or
// with none matching. Run under umockdev-wrapper.
#include "device_presence.h"
#include "hidraw_testbed.h"

#include <benchmark/benchmark.h>
#include <hidapi.h>
#include <umockdev.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Interfaces of other makers fill the testbed; with match set, the last node
// is the device in controller mode.
std::vector<EmulatedHidraw> Testbed(unsigned count, bool match) {
  std::vector<EmulatedHidraw> devices(count);
  for (unsigned node = 0; node < count; ++node) {
    devices[node].node = node;
    devices[node].vendor_id = 0x046D;
    devices[node].product_id = 0xC000 + node;
    // Neither search opens a node that does not match, and each /dev node
    // costs the testbed a pseudo-terminal, of which there are few.
    devices[node].has_dev_node = false;
  }
  if (match) {
    devices.back().vendor_id = kVendorId;
    devices.back().product_id = kControllerProductId;
    devices.back().has_dev_node = true;
  }
  // The whole uevent as the kernel writes it: hidapi passes over a node
  // without HID_PHYS and HID_UNIQ.
  char line[160];
  for (EmulatedHidraw& device : devices) {
    std::snprintf(line, sizeof line,
                  "HID_ID=0003:%08X:%08X\\nHID_PHYS=usb-0000:00:14.0-%u/input0\\nHID_UNIQ=",
                  device.vendor_id, device.product_id, device.node + 1);
    device.hid_id_line = line;
  }
  return devices;
}

// hidapi reads a USB interface's strings from its USB device, and passes
// over an interface that has none, so each node gets the USB device and
// interface it would have on real hardware.
std::string DescribeWithUsbParents(const std::vector<EmulatedHidraw>& devices) {
  std::string text;
  char ids[64];
  for (const EmulatedHidraw& device : devices) {
    const std::string port = "1-" + std::to_string(device.node + 1);
    const std::string usb = "/devices/pci0000:00/0000:00:14.0/usb1/" + port;
    std::snprintf(ids, sizeof ids, "A: idVendor=%04x\nA: idProduct=%04x\n", device.vendor_id,
                  device.product_id);
    text += "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: BUSNUM=001\n" +
            "E: DEVNUM=" + std::to_string(device.node + 2) + "\n" + ids +
            "A: manufacturer=Emulated maker\nA: product=Emulated HID device\n" +
            "A: serial=" + std::to_string(device.node) + "\nA: bcdDevice=0100\n\n";
    text += "P: " + usb + "/" + port + ":1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n" +
            "A: bInterfaceNumber=00\n\n";
  }
  return text + DescribeHidraws(devices);
}

// Holds one testbed for the length of a benchmark.
class ScopedTestbed {
 public:
  ScopedTestbed(benchmark::State& state, unsigned count, bool match)
      : testbed_(umockdev_testbed_new()) {
    GError* error = nullptr;
    if (!umockdev_in_mock_environment()) {
      state.SkipWithError("run under umockdev-wrapper");
    } else if (!umockdev_testbed_add_from_string(
                   testbed_, DescribeWithUsbParents(Testbed(count, match)).c_str(), &error)) {
      state.SkipWithError(error != nullptr ? error->message : "testbed not built");
    }
    if (error != nullptr) g_error_free(error);
  }
  ~ScopedTestbed() { g_object_unref(testbed_); }
  ScopedTestbed(const ScopedTestbed&) = delete;
  ScopedTestbed& operator=(const ScopedTestbed&) = delete;

 private:
  UMockdevTestbed* testbed_;
};

void BM_FindHidDevice(benchmark::State& state) {
  const bool match = state.range(1) != 0;
  ScopedTestbed testbed(state, static_cast<unsigned>(state.range(0)), match);
  for (auto _ : state) {
    const bool found = FindHidDevice(kVendorId, kControllerProductId);
    if (found != match) {
      state.SkipWithError("the search gave the wrong answer");
      break;
    }
  }
}

void BM_HidEnumerate(benchmark::State& state) {
  const bool match = state.range(1) != 0;
  ScopedTestbed testbed(state, static_cast<unsigned>(state.range(0)), match);
  for (auto _ : state) {
    hid_device_info* devices = hid_enumerate(kVendorId, kControllerProductId);
    const bool found = devices != nullptr;
    hid_free_enumeration(devices);
    if (found != match) {
      state.SkipWithError("hid_enumerate gave the wrong answer");
      break;
    }
  }
}

void Sizes(benchmark::internal::Benchmark* bench) {
  bench->ArgNames({"n", "match"})->Unit(benchmark::kMicrosecond)->Repetitions(3);
  for (const int match : {1, 0}) {
    for (const int count : {1, 16, 64, 256}) bench->Args({count, match});
  }
}

BENCHMARK(BM_FindHidDevice)->Apply(Sizes);
BENCHMARK(BM_HidEnumerate)->Apply(Sizes);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  hid_exit();
  return 0;
}
