#pragma once
// Waiting in a test for something another process or thread brings about.

#include <chrono>
#include <functional>
#include <thread>

namespace testing_support {

// True as soon as `condition` holds; false when it still does not after
// `timeoutMs` milliseconds.
inline bool eventually(const std::function<bool()>& condition, int timeoutMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace testing_support
