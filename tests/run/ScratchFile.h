#pragma once
// A file path of its own for one test, removed again when the test ends; tests
// that run in parallel never share one.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace mrl_test {

class ScratchFile {
 public:
  explicit ScratchFile(const std::string& suffix = ".bin") {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("mrl_") + test->test_suite_name() + "_" + test->name() + "_" +
                       std::to_string(::getpid()) + suffix;
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    path_ = ::testing::TempDir() + name;
  }
  ~ScratchFile() { std::remove(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& path() const { return path_; }

  void Write(const std::vector<std::uint8_t>& bytes) const {
    std::ofstream file(path_, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  void Write(const std::string& text) const {
    Write(std::vector<std::uint8_t>(text.begin(), text.end()));
  }

  std::vector<std::uint8_t> Read() const {
    std::ifstream file(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  }

 private:
  std::string path_;
};

}  // namespace mrl_test
