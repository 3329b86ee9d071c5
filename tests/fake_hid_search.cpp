#include "fake_hid_search.h"

#include "device_presence.h"

FakeSearch& TheFakeSearch() {
  static FakeSearch fake;
  return fake;
}

bool FindHidDevice(std::uint32_t vendor_id, std::uint32_t product_id) {
  FakeSearch& fake = TheFakeSearch();
  ++fake.searches;
  return vendor_id == kVendorId && fake.present && fake.present(product_id, fake.searches);
}

void PauseMilliseconds(unsigned milliseconds) { TheFakeSearch().pauses.push_back(milliseconds); }
