#pragma once
// A private network for tests that send UDP multicast: the test process (and
// every thread and child it starts afterwards) moves into a network namespace
// of its own, with the loopback interface up, the multicast route on it and
// a second address, 127.0.0.2, for a second emulated computer. Nothing sent
// there can leave the machine. A test program that cannot make one fails
// every test with the reason; it never sends on the machine's own network.

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testing_support {

inline constexpr char kSecondComputerAddress[] = "127.0.0.2";

// Enters the namespace; false with the reason when it cannot. Call it while
// the process has a single thread.
bool enterPrivateNetwork(std::string* error);

// Whether this process runs in the namespace enterPrivateNetwork made.
bool inPrivateNetwork();

// Runs `ip` with the arguments; false with its output in `error`.
bool runIp(const std::vector<std::string>& arguments, std::string* error = nullptr);

// Enters the private network before the first test of the program.
class PrivateNetworkEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
};

}  // namespace testing_support
