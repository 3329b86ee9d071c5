#include "command_runner.h"

#include <cstring>

namespace {
constexpr char kEndOfData = 0x1A;  // Ctrl-Z: a text-mode read ends the data here
}  // namespace

bool DecodeTextModeChunk(TextModeDecoder& decoder, const char* data, std::size_t size,
                         std::string& out) {
  if (decoder.ended) return false;
  const char* end = data + size;
  const char* stop = static_cast<const char*>(std::memchr(data, kEndOfData, size));
  if (stop != nullptr) end = stop;

  const char* p = data;
  if (decoder.pending_cr && p != end) {
    // The CR that ended the last chunk pairs with an LF that starts this one.
    if (*p != '\n') out.push_back('\r');
    decoder.pending_cr = false;
  }
  while (p != end) {
    const char* cr = static_cast<const char*>(std::memchr(p, '\r', end - p));
    if (cr == nullptr) {
      out.append(p, end);
      break;
    }
    out.append(p, cr);
    if (cr + 1 == end) {
      // Whether this CR pairs is known only from the next byte.
      decoder.pending_cr = stop == nullptr;
      if (stop != nullptr) out.push_back('\r');
      break;
    }
    if (cr[1] != '\n') out.push_back('\r');
    p = cr + 1;
  }

  if (stop != nullptr) {
    decoder.ended = true;
    return false;
  }
  return true;
}

void FinishTextModeDecoding(TextModeDecoder& decoder, std::string& out) {
  if (decoder.pending_cr) out.push_back('\r');
  decoder.pending_cr = false;
}
