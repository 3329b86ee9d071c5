// Writes the given number of MiB of text lines to standard output, every
// other line ending in CR LF, in large writes so that the writer is never
// what limits a reader.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s MEBIBYTES\n", argv[0]);
    return 2;
  }
  const std::size_t total = std::strtoull(argv[1], nullptr, 10) << 20;
  std::string block;
  for (unsigned line = 0; block.size() < (1u << 20); ++line) {
    block += "Line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog";
    block += line % 2 == 0 ? "\n" : "\r\n";
  }
  block.resize(1u << 20);
  for (std::size_t written = 0; written < total;) {
    const std::size_t want = std::min(block.size(), total - written);
    const ssize_t got = write(STDOUT_FILENO, block.data(), want);
    if (got <= 0) return 1;
    written += static_cast<std::size_t>(got);
  }
  return 0;
}
