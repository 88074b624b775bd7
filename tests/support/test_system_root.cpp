#include "tests/support/test_system_root.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "platform/system_root.h"

namespace testing_support {

TestSystemRoot::TestSystemRoot() {
  if (const char* old = std::getenv(platform::kSystemRootVariable)) previous_ = old;
  std::string pattern = (std::filesystem::temp_directory_path() / "wn-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary system root");
  path_ = pattern;
  ::setenv(platform::kSystemRootVariable, path_.c_str(), 1);
}

TestSystemRoot::~TestSystemRoot() {
  if (previous_) {
    ::setenv(platform::kSystemRootVariable, previous_->c_str(), 1);
  } else {
    ::unsetenv(platform::kSystemRootVariable);
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace testing_support
