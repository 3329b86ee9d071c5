// A fresh folder for the stand-in updater tool, and the tool first on PATH.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>

inline std::string MakeTempFolder(const std::string& tag) {
  std::string pattern = testing::TempDir() + "korrind_" + tag + "_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed for " << pattern;
  return pattern;
}

inline void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << contents;
  ASSERT_TRUE(file.good()) << path;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

// Puts the stand-in tool first on PATH, once per process.
inline void PutStandinToolOnPath() {
  static const bool done = [] {
    const char* path = getenv("PATH");
    const std::string value = std::string(STANDIN_TOOL_DIR) + ":" + (path ? path : "");
    return setenv("PATH", value.c_str(), 1) == 0;
  }();
  ASSERT_TRUE(done);
}
