// A scripted stand-in for the platform search and pause, linked in place of
// the real backend so that the workflow runs without devices or waiting.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct FakeSearch {
  // Answers search number `search` (counted from 1) for the product ID.
  std::function<bool(std::uint32_t product_id, int search)> present;
  int searches = 0;
  std::vector<unsigned> pauses;
};

FakeSearch& TheFakeSearch();
