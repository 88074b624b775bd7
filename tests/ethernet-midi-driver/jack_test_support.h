#pragma once
// A JACK server of its own (`jackd -d dummy`, no sound hardware, not
// real-time) for one test or benchmark, stopped when the object goes.

#include <jack/jack.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "tests/ethernet-midi-driver/mirelo_test_support.h"

namespace mirelo_testing {

class JackServer {
 public:
  explicit JackServer(int periodFrames = 256) : name_("wn-mirelo-" + std::to_string(::getpid())) {
    server_ = std::make_unique<testing_support::BackgroundProgram>(
        std::vector<std::string>{"jackd", "-n", name_, "--no-realtime", "-d", "dummy", "-r", "48000", "-p",
                                 std::to_string(periodFrames)});
    ready_ = eventually(
        [&] {
          jack_status_t status;
          jack_client_t* probe = jack_client_open("wn-probe", JackOptions(JackNoStartServer | JackServerName), &status,
                                                  name_.c_str());
          if (probe != nullptr) jack_client_close(probe);
          return probe != nullptr;
        },
        std::chrono::seconds(10));
  }
  const std::string& name() const { return name_; }
  bool ready() const { return ready_; }
  std::string output() const { return server_->output(); }

 private:
  std::string name_;
  std::unique_ptr<testing_support::BackgroundProgram> server_;
  bool ready_ = false;
};

}  // namespace mirelo_testing
