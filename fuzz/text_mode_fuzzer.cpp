// Any byte stream, cut into reads anywhere, must decode exactly as the whole
// stream does, and as the text-mode rules say, written out here byte by byte.
//
// Input layout: byte 0 gives how many read sizes follow (0 to 15); each of
// those bytes is one read size less one (1 to 256 bytes), used in turn until the stream is
// used up. The rest of the input is the stream.
#include "command_runner.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The rules, one byte at a time: 0x1A ends the data, a CR directly before an
// LF is dropped, every other byte (zero bytes and lone CRs too) is kept.
std::string DecodeByRule(const std::string& raw, std::size_t& end_of_data) {
  std::string out;
  end_of_data = raw.size();
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\x1A') {
      end_of_data = i;
      break;
    }
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    out.push_back(raw[i]);
  }
  return out;
}

void Require(bool condition) {
  if (!condition) std::abort();
}

// Feeds every read even after the decoder has reported the end, to check that
// nothing more is appended; checks each read's result against the rule.
std::string DecodeInReads(const std::string& raw, const std::vector<std::size_t>& sizes,
                          std::size_t end_of_data) {
  TextModeDecoder decoder;
  std::string out;
  std::size_t pos = 0;
  std::size_t next = 0;
  while (pos < raw.size()) {
    std::size_t size = raw.size() - pos;
    if (!sizes.empty()) size = std::min(size, sizes[next++ % sizes.size()]);
    const bool more = DecodeTextModeChunk(decoder, raw.data() + pos, size, out);
    pos += size;
    // The data has ended once a read has reached the 0x1A, and not before.
    Require(more == (pos <= end_of_data));
  }
  FinishTextModeDecoding(decoder, out);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t count = std::min<std::size_t>(data[0] % 16, size - 1);
  std::vector<std::size_t> sizes;
  for (std::size_t i = 1; i <= count; ++i) sizes.push_back(std::size_t{data[i]} + 1);
  const std::string raw(reinterpret_cast<const char*>(data) + 1 + count, size - 1 - count);

  std::size_t end_of_data = 0;
  const std::string expected = DecodeByRule(raw, end_of_data);
  Require(DecodeInReads(raw, {}, end_of_data) == expected);
  Require(DecodeInReads(raw, sizes, end_of_data) == expected);
  return 0;
}
