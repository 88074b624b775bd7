#pragma once
// A private system root for one test: a fresh temporary directory that
// WN_SYSTEM_ROOT points to while the object lives; removed afterwards.

#include <filesystem>
#include <optional>
#include <string>

namespace testing_support {

class TestSystemRoot {
 public:
  TestSystemRoot();
  ~TestSystemRoot();
  TestSystemRoot(const TestSystemRoot&) = delete;
  TestSystemRoot& operator=(const TestSystemRoot&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::optional<std::string> previous_;
};

}  // namespace testing_support
