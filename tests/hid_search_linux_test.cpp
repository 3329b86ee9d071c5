// The hidraw search over umockdev testbeds; run under umockdev-wrapper, which
// redirects /sys and /dev into each test's testbed.
#include "device_presence.h"
#include "hid_search_linux.h"
#include "hidraw_testbed.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <gtest/gtest.h>
#include <umockdev.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

struct HidIdCase {
  const char* name;
  std::string uevent;
  bool parsed;
  std::uint32_t vendor_id;
  std::uint32_t product_id;
};

const HidIdCase kHidIdCases[] = {
    {"kernel_format", "DRIVER=hid-generic\nHID_ID=0003:000028DE:00002300\nHID_NAME=x\n", true,
     0x28DE, 0x2300},
    {"lower_case_hex_last_line", "HID_ID=0003:000028de:00002301", true, 0x28DE, 0x2301},
    {"bluetooth_bus", "HID_ID=0005:0000046D:0000B012\n", true, 0x046D, 0xB012},
    {"full_32_bits", "HID_ID=0003:000128DE:00002300\n", true, 0x128DE, 0x2300},
    {"no_hid_id_line", "DRIVER=hid-generic\nHID_NAME=x\n", false, 0, 0},
    {"key_not_at_line_start", "XHID_ID=0003:000028DE:00002300\n", false, 0, 0},
    {"missing_product", "HID_ID=0003:000028DE\n", false, 0, 0},
    {"empty_field", "HID_ID=0003::00002300\n", false, 0, 0},
    {"not_hex", "HID_ID=0003:000028DG:00002300\n", false, 0, 0},
    {"too_many_digits", "HID_ID=0003:0000028DE0:00002300\n", false, 0, 0},
    {"trailing_garbage", "HID_ID=0003:000028DE:00002300:1\n", false, 0, 0},
    {"trailing_blank", "HID_ID=0003:000028DE:00002300 \n", false, 0, 0},
    {"empty", "", false, 0, 0},
};

class ParseHidIdTest : public testing::TestWithParam<HidIdCase> {};

TEST_P(ParseHidIdTest, ReadsBusVendorAndProduct) {
  const HidIdCase& c = GetParam();
  std::uint32_t vendor = 7, product = 7;
  ASSERT_EQ(ParseHidId(c.uevent, vendor, product), c.parsed);
  if (c.parsed) {
    EXPECT_EQ(vendor, c.vendor_id);
    EXPECT_EQ(product, c.product_id);
    EXPECT_TRUE(AttributesMatch(c.uevent, c.vendor_id, c.product_id));
    EXPECT_FALSE(AttributesMatch(c.uevent, c.vendor_id, c.product_id + 1));
  } else {
    EXPECT_FALSE(AttributesMatch(c.uevent, 0x28DE, 0x2300));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ParseHidIdTest, testing::ValuesIn(kHidIdCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(OrderHidrawNodes, SortsByNodeNumberAndDropsOtherEntries) {
  EXPECT_EQ(OrderHidrawNodes({".", "hidraw10", "..", "hidraw2", "hidraw", "hidrawx", "hidraw0"}),
            (std::vector<std::string>{"hidraw0", "hidraw2", "hidraw10"}));
}

// Descriptors the search could leak: files, folders and device nodes. The
// eventfds, sockets and pty masters that umockdev's own threads open, at
// times of their choosing, are left out.
int OpenDescriptorCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      char target[256] = {};
      const std::string link = std::string("/proc/self/fd/") + entry->d_name;
      if (readlink(link.c_str(), target, sizeof target - 1) < 0) continue;
      const std::string what = target;
      if (what.rfind("anon_inode:", 0) == 0 || what.rfind("socket:", 0) == 0 ||
          what == "/dev/ptmx") {
        continue;
      }
      ++count;
    }
    closedir(dir);
  }
  return count;
}

class HidrawSearchTest : public testing::Test {
 protected:
  void SetUp() override {
    testbed_ = umockdev_testbed_new();
    ASSERT_TRUE(umockdev_in_mock_environment()) << "run this test under umockdev-wrapper";
  }
  void TearDown() override { g_object_unref(testbed_); }

  void Add(const std::vector<EmulatedHidraw>& devices) {
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_string(testbed_, DescribeHidraws(devices).c_str(), &error))
        << (error ? error->message : "");
  }

  std::string SysfsPath(const std::string& path) {
    // The root directory is handed over as a new string that we must free.
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    std::string full = std::string(root) + path;
    g_free(root);
    return full;
  }

  UMockdevTestbed* testbed_ = nullptr;
};

TEST_F(HidrawSearchTest, NoHidrawNodeAtAll) {
  EXPECT_FALSE(FindHidDevice(kVendorId, kControllerProductId));
  EXPECT_FALSE(DetectControllerMode(0));
  EXPECT_FALSE(DetectBootloaderMode(0));
}

TEST_F(HidrawSearchTest, FindsEachModeByItsProductId) {
  Add({{0, 0x046D, 0xC52B}, {1, kVendorId, kControllerProductId}});
  EXPECT_TRUE(DetectControllerMode(0));
  EXPECT_FALSE(DetectBootloaderMode(0));
}

TEST_F(HidrawSearchTest, SameVendorOtherProductMatchesNeitherMode) {
  Add({{0, kVendorId, 0x2302}, {1, kVendorId, 0x1142}, {2, 0x28DF, kControllerProductId}});
  EXPECT_FALSE(DetectControllerMode(0));
  EXPECT_FALSE(DetectBootloaderMode(0));
}

TEST_F(HidrawSearchTest, MatchingNodeThatCannotBeOpenedCountsAsAbsent) {
  EmulatedHidraw gone{0, kVendorId, kBootloaderProductId};
  gone.has_dev_node = false;
  Add({gone});
  EXPECT_FALSE(DetectBootloaderMode(0));

  Add({{5, kVendorId, kBootloaderProductId}});
  EXPECT_TRUE(DetectBootloaderMode(0)) << "the search goes on past a node it cannot open";
}

TEST_F(HidrawSearchTest, MalformedUeventDoesNotMatch) {
  EmulatedHidraw malformed{0, kVendorId, kControllerProductId};
  malformed.hid_id_line = "HID_ID=0003:000028DE";
  Add({malformed});
  EXPECT_FALSE(DetectControllerMode(0));
}

TEST_F(HidrawSearchTest, OpensOnlyMatchingNodesAndStopsAtTheFirstInNodeOrder) {
  // hidraw10 lists before hidraw9 by name; node order puts 9 first. The
  // opens are seen on the testbed's files behind the emulated /dev nodes.
  Add({{2, 0x046D, 0xC52B}, {10, kVendorId, kControllerProductId},
       {9, kVendorId, kControllerProductId}});
  const int watcher = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  ASSERT_GE(watcher, 0);
  const int other = inotify_add_watch(watcher, SysfsPath("/dev/hidraw2").c_str(), IN_OPEN);
  const int first = inotify_add_watch(watcher, SysfsPath("/dev/hidraw9").c_str(), IN_OPEN);
  const int second = inotify_add_watch(watcher, SysfsPath("/dev/hidraw10").c_str(), IN_OPEN);
  ASSERT_TRUE(other >= 0 && first >= 0 && second >= 0);

  EXPECT_TRUE(DetectControllerMode(0));

  std::vector<int> opened;
  alignas(inotify_event) char events[4096];
  const ssize_t got = read(watcher, events, sizeof events);
  for (ssize_t pos = 0; pos < got;) {
    const auto* event = reinterpret_cast<const inotify_event*>(events + pos);
    opened.push_back(event->wd);
    pos += sizeof(inotify_event) + event->len;
  }
  close(watcher);
  EXPECT_EQ(opened, std::vector<int>{first});
}

TEST_F(HidrawSearchTest, ReportsAbsenceOnlyWhenAsked) {
  testing::internal::CaptureStdout();
  EXPECT_FALSE(DetectControllerMode(0));
  EXPECT_FALSE(DetectBootloaderMode(0));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  testing::internal::CaptureStdout();
  EXPECT_FALSE(DetectControllerMode(1));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Korrind (2018) only.\n");

  testing::internal::CaptureStdout();
  EXPECT_FALSE(DetectBootloaderMode(0x80));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Korrind (2018) only.\n");

  Add({{0, kVendorId, kControllerProductId}});
  testing::internal::CaptureStdout();
  EXPECT_TRUE(DetectControllerMode(1));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(HidrawSearchTest, SeesTheDeviceChangeModeBetweenSearches) {
  Add({{0, kVendorId, kControllerProductId}});
  EXPECT_TRUE(DetectControllerMode(0));
  const std::string uevent =
      SysfsPath("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/0003:28DE:2300.0001/uevent");
  ASSERT_TRUE(g_file_set_contents(uevent.c_str(), "HID_ID=0003:000028DE:00002301\n", -1, nullptr));
  EXPECT_FALSE(DetectControllerMode(0));
  EXPECT_TRUE(DetectBootloaderMode(0));
}

TEST_F(HidrawSearchTest, ManySearchesLeaveNoDescriptorOpen) {
  Add({{0, 0x046D, 0xC52B}, {1, kVendorId, kControllerProductId}});
  const int before = OpenDescriptorCount();
  // 10,000 searches: one that finds and opens the device, one that misses.
  for (int i = 0; i < 5000; ++i) {
    ASSERT_TRUE(DetectControllerMode(0));
    ASSERT_FALSE(DetectBootloaderMode(0));
  }
  EXPECT_EQ(OpenDescriptorCount(), before);
}

}  // namespace
