#pragma once
// A JACK server of its own (`jackd -d dummy`, no sound hardware, not
// real-time) for one test or benchmark, stopped when the object goes.
//
// JACK keeps a machine-wide table of at most eight servers in shared memory.
// A server that ends with SIGTERM leaves it; one that is killed stays listed
// until a server of the same name starts. So the server is stopped with
// SIGTERM, and its name comes from a few fixed ones ("wn-mirelo-0" to
// "wn-mirelo-3", the first that no running server uses): whatever a killed
// test left behind is taken over by the next run instead of filling the table.

#include <jack/jack.h>

#include <memory>
#include <string>

#include "tests/ethernet-midi-driver/mirelo_test_support.h"

namespace mirelo_testing {

class JackServer {
 public:
  explicit JackServer(int periodFrames = 256) {
    for (int slot = 0; slot < kNames && !ready_; ++slot) {
      const std::string name = "wn-mirelo-" + std::to_string(slot);
      if (serverAnswers(name)) continue;  // another test's server
      start(name, periodFrames);
    }
  }
  JackServer(const JackServer&) = delete;
  JackServer& operator=(const JackServer&) = delete;

  const std::string& name() const { return name_; }
  bool ready() const { return ready_; }
  std::string output() const { return server_ ? server_->output() : "every JACK server name of the tests is in use"; }

 private:
  static constexpr int kNames = 4;

  static bool serverAnswers(const std::string& name) {
    jack_status_t status;
    jack_client_t* probe =
        jack_client_open("wn-probe", JackOptions(JackNoStartServer | JackServerName), &status, name.c_str());
    if (probe != nullptr) jack_client_close(probe);
    return probe != nullptr;
  }

  void start(const std::string& name, int periodFrames) {
    if (server_) server_->stop();
    name_ = name;
    server_ = std::make_unique<testing_support::BackgroundProgram>(
        std::vector<std::string>{"jackd", "-n", name_, "--no-realtime", "-d", "dummy", "-r", "48000", "-p",
                                 std::to_string(periodFrames)});
    // A server that ends at once found the name taken after all.
    eventually([&] { return !server_->running() || serverAnswers(name_); }, std::chrono::seconds(10));
    ready_ = server_->running() && serverAnswers(name_);
  }

  std::string name_;
  std::unique_ptr<testing_support::BackgroundProgram> server_;
  bool ready_ = false;
};

}  // namespace mirelo_testing
