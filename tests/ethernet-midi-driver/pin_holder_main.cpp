// A client for the driver's tests that holds pins open until it is killed:
// `mirelo_pin_holder PORT COUNT` opens COUNT capture and COUNT render pins on
// port PORT, runs them, leaves a read waiting on each capture pin, writes a
// byte on each render pin, prints "holding" and sleeps.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ethernet-midi-driver/mirelo_device.h"
#include "platform/kernel_streaming_client.h"
#include "tools/midiport/mirelo_ports.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: mirelo_pin_holder PORT COUNT\n");
    return 2;
  }
  const uint32_t port = static_cast<uint32_t>(std::atoi(argv[1]));
  const int count = std::atoi(argv[2]);
  const auto found = mirelo_tools::findMireloPorts();
  if (found.ports.count(port) == 0) {
    std::fprintf(stderr, "no port %u\n", port);
    return 1;
  }
  std::vector<std::unique_ptr<platform::KsMidiPin>> pins;
  for (int i = 0; i < count; ++i) {
    for (uint32_t pinId : {mirelo::kCapturePin, mirelo::kRenderPin}) {
      uint32_t error = 0;
      auto pin = platform::KsMidiPin::create(found.ports.at(port), pinId, &error);
      if (!pin || pin->setState(platform::KSSTATE_RUN) != 0) {
        std::fprintf(stderr, "cannot open a pin: error %u\n", error);
        return 1;
      }
      if (pinId == mirelo::kCapturePin) {
        std::vector<platform::MidiRecord> records;
        pin->read(&records, 0);  // stays in flight
      } else {
        const uint8_t clock = 0xF8;
        pin->writeBytes(&clock, 1);
      }
      pins.push_back(std::move(pin));
    }
  }
  std::printf("holding\n");
  std::fflush(stdout);
  for (;;) ::pause();
}
