// midi-jack-bridge: every Ethernet MIDI port of the running Mirelo driver as
// a pair of JACK MIDI ports, so that Linux music programs play to and record
// from the network. "MidiNN capture" carries what arrives on port NN;
// "MidiNN playback" sends what JACK clients write to it.
//
// The JACK process callback never blocks: it exchanges whole messages with
// one reader and one writer thread per port through lock-free ring buffers.

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <semaphore.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ethernet-midi-driver/mirelo_device.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/kernel_streaming_client.h"
#include "platform/system_root.h"
#include "tools/common/tool.h"
#include "tools/midi-jack-bridge/midi_message_parser.h"
#include "tools/midiport/mirelo_ports.h"

namespace {

using platform::formatText;
using platform::KsMidiPin;

constexpr const char* kUsage = R"(Usage: midi-jack-bridge [OPTIONS]

Shows every Ethernet MIDI port of the Mirelo driver as JACK MIDI ports:
"MidiNN capture" (what arrives on port NN from the network) and
"MidiNN playback" (what JACK clients send to the network on port NN).
Runs until interrupted (Ctrl+C or SIGTERM).

Options:
  --name NAME     the JACK client name (default mirelo)
  --unmute        unmute every port at start (ports start muted)
  -h, --help      this text
  --version       the program's version

The JACK server is the default one, or the one $JACK_DEFAULT_SERVER names;
the driver is the one under $WN_SYSTEM_ROOT. Exit codes: 0 stopped by a
signal, 1 a failure (with its reason), 2 a usage error.
)";

constexpr tool::OptionSpec kOptions[] = {{"--name", true}, {"--unmute", false}};
constexpr size_t kRingBytes = 64 * 1024;
constexpr uint32_t kReadSliceMs = 200;

std::atomic<bool> stopping{false};
std::atomic<int> failure{0};

void onSignal(int) { stopping.store(true); }

// One Ethernet MIDI port and its JACK ports. Messages cross the rings as a
// 32-bit size followed by the bytes.
struct BridgedPort {
  uint32_t number = 0;
  std::unique_ptr<KsMidiPin> capture;
  std::unique_ptr<KsMidiPin> render;
  jack_port_t* fromNetwork = nullptr;
  jack_port_t* toNetwork = nullptr;
  jack_ringbuffer_t* incoming = nullptr;  // reader thread → process callback
  jack_ringbuffer_t* outgoing = nullptr;  // process callback → writer thread
  sem_t outgoingReady;
  std::thread reader;
  std::thread writer;
  std::atomic<uint64_t> droppedIncoming{0};
  std::atomic<uint64_t> droppedOutgoing{0};

  BridgedPort() { ::sem_init(&outgoingReady, 0, 0); }
  ~BridgedPort() {
    if (incoming != nullptr) jack_ringbuffer_free(incoming);
    if (outgoing != nullptr) jack_ringbuffer_free(outgoing);
    ::sem_destroy(&outgoingReady);
  }
};

bool pushMessage(jack_ringbuffer_t* ring, const uint8_t* bytes, uint32_t size) {
  if (jack_ringbuffer_write_space(ring) < sizeof size + size) return false;
  jack_ringbuffer_write(ring, reinterpret_cast<const char*>(&size), sizeof size);
  jack_ringbuffer_write(ring, reinterpret_cast<const char*>(bytes), size);
  return true;
}

// The size of the next whole message in the ring, or 0.
uint32_t peekMessage(jack_ringbuffer_t* ring) {
  uint32_t size = 0;
  if (jack_ringbuffer_read_space(ring) < sizeof size) return 0;
  jack_ringbuffer_peek(ring, reinterpret_cast<char*>(&size), sizeof size);
  return jack_ringbuffer_read_space(ring) >= sizeof size + size ? size : 0;
}

void fail(const std::string& message) {
  std::fprintf(stderr, "midi-jack-bridge: %s\n", message.c_str());
  failure.store(1);
  stopping.store(true);
}

// Network → JACK: reads the capture pin and cuts the bytes into messages.
void readLoop(BridgedPort* port) {
  midi_jack_bridge::MidiMessageParser parser;
  const auto emit = [port](const uint8_t* message, size_t size) {
    if (!pushMessage(port->incoming, message, static_cast<uint32_t>(size))) port->droppedIncoming.fetch_add(1);
  };
  while (!stopping.load()) {
    std::vector<platform::MidiRecord> records;
    const uint32_t error = port->capture->read(&records, kReadSliceMs);
    if (error == platform::ERROR_TIMEOUT) continue;
    if (error != 0) {
      if (!stopping.load()) fail(formatText("port %u: receiving failed (error %u); the driver stopped?", port->number, error));
      return;
    }
    for (const platform::MidiRecord& record : records) parser.feed(record.bytes.data(), record.bytes.size(), emit);
  }
}

// JACK → network: writes what the process callback queued, as one request.
void writeLoop(BridgedPort* port) {
  while (!stopping.load()) {
    timespec deadline{};
    ::clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_nsec += 200'000'000;
    if (deadline.tv_nsec >= 1'000'000'000) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1'000'000'000;
    }
    if (::sem_timedwait(&port->outgoingReady, &deadline) != 0) continue;
    std::vector<uint8_t> records;
    while (const uint32_t size = peekMessage(port->outgoing)) {
      std::vector<uint8_t> message(size);
      jack_ringbuffer_read_advance(port->outgoing, sizeof size);
      jack_ringbuffer_read(port->outgoing, reinterpret_cast<char*>(message.data()), size);
      platform::appendMidiRecord(records, 0, message.data(), message.size());
    }
    if (records.empty()) continue;
    const uint32_t error = port->render->write(records);
    if (error != 0 && error != platform::ERROR_DEVICE_NOT_CONNECTED) {
      if (!stopping.load()) fail(formatText("port %u: sending failed (error %u)", port->number, error));
      return;
    }
    // A port without network is muted by the driver with a network problem;
    // what follows is dropped by the driver until the port is unmuted.
  }
}

struct Bridge {
  jack_client_t* client = nullptr;
  std::vector<std::unique_ptr<BridgedPort>> ports;

  static int process(jack_nframes_t frames, void* argument) {
    auto* bridge = static_cast<Bridge*>(argument);
    for (auto& port : bridge->ports) {
      void* in = jack_port_get_buffer(port->toNetwork, frames);
      const uint32_t count = jack_midi_get_event_count(in);
      bool queued = false;
      for (uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, in, i) != 0) continue;
        if (pushMessage(port->outgoing, event.buffer, static_cast<uint32_t>(event.size))) {
          queued = true;
        } else {
          port->droppedOutgoing.fetch_add(1);
        }
      }
      if (queued) ::sem_post(&port->outgoingReady);

      void* out = jack_port_get_buffer(port->fromNetwork, frames);
      jack_midi_clear_buffer(out);
      while (const uint32_t size = peekMessage(port->incoming)) {
        jack_midi_data_t* slot = jack_midi_event_reserve(out, 0, size);
        if (slot == nullptr) break;  // the buffer is full: the rest goes out next period
        jack_ringbuffer_read_advance(port->incoming, sizeof size);
        jack_ringbuffer_read(port->incoming, reinterpret_cast<char*>(slot), size);
      }
    }
    return 0;
  }

  static void shutdown(void*) {
    failure.store(1);
    stopping.store(true);
  }
};

int run(const std::string& clientName, bool unmute) {
  const auto found = mirelo_tools::findMireloPorts();
  if (found.controlFilter.empty()) {
    if (!tool::deviceHostRunning()) {
      throw tool::Failure{tool::openFailureText("opening the control filter", u"topology", platform::ERROR_FILE_NOT_FOUND)};
    }
    throw tool::Failure{"no Ethernet MIDI driver is running on " + platform::systemRoot().string()};
  }
  if (unmute) {
    mirelo_tools::ControlFilter control;
    uint32_t error = control.open(found.controlFilter);
    if (error == 0) error = control.setMuteMask(0);
    if (error != 0) throw tool::Failure{"cannot unmute the ports: " + tool::statusText(error)};
  }

  Bridge bridge;
  jack_status_t status;
  bridge.client = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
  if (bridge.client == nullptr) {
    throw tool::Failure{formatText("no JACK server to connect to (status 0x%x); start one, e.g. `jackd -d dummy`",
                                   static_cast<unsigned>(status))};
  }
  for (const auto& [number, path] : found.ports) {
    auto port = std::make_unique<BridgedPort>();
    port->number = number;
    uint32_t error = 0;
    port->capture = KsMidiPin::create(path, mirelo::kCapturePin, &error);
    if (port->capture) port->render = KsMidiPin::create(path, mirelo::kRenderPin, &error);
    if (!port->render || port->capture->setState(platform::KSSTATE_RUN) != 0 ||
        port->render->setState(platform::KSSTATE_RUN) != 0) {
      jack_client_close(bridge.client);
      throw tool::Failure{formatText("cannot open port %u: ", number) + tool::statusText(error)};
    }
    const std::string base = formatText("Midi%02u", number);
    port->fromNetwork = jack_port_register(bridge.client, (base + " capture").c_str(), JACK_DEFAULT_MIDI_TYPE,
                                           JackPortIsOutput, 0);
    port->toNetwork = jack_port_register(bridge.client, (base + " playback").c_str(), JACK_DEFAULT_MIDI_TYPE,
                                         JackPortIsInput, 0);
    port->incoming = jack_ringbuffer_create(kRingBytes);
    port->outgoing = jack_ringbuffer_create(kRingBytes);
    if (port->fromNetwork == nullptr || port->toNetwork == nullptr || port->incoming == nullptr ||
        port->outgoing == nullptr) {
      jack_client_close(bridge.client);
      throw tool::Failure{formatText("cannot make the JACK ports of port %u", number)};
    }
    bridge.ports.push_back(std::move(port));
  }
  for (auto& port : bridge.ports) {
    port->reader = std::thread(readLoop, port.get());
    port->writer = std::thread(writeLoop, port.get());
  }
  jack_set_process_callback(bridge.client, &Bridge::process, &bridge);
  jack_on_shutdown(bridge.client, &Bridge::shutdown, nullptr);
  if (jack_activate(bridge.client) != 0) {
    fail("cannot activate the JACK client");
  } else {
    std::printf("bridging %zu port(s) as JACK client \"%s\"\n", bridge.ports.size(), jack_get_client_name(bridge.client));
    std::fflush(stdout);
  }
  while (!stopping.load()) ::usleep(50'000);

  jack_deactivate(bridge.client);
  for (auto& port : bridge.ports) {
    port->capture->close();  // ends a waiting read
    ::sem_post(&port->outgoingReady);
    port->reader.join();
    port->writer.join();
    const uint64_t dropped = port->droppedIncoming.load() + port->droppedOutgoing.load();
    if (dropped != 0) std::fprintf(stderr, "midi-jack-bridge: port %u dropped %llu message(s)\n", port->number,
                                   static_cast<unsigned long long>(dropped));
  }
  jack_client_close(bridge.client);
  return failure.load();
}

}  // namespace

int main(int argc, char** argv) {
  return tool::run({"midi-jack-bridge", kUsage, kOptions}, argc, argv, [](const tool::CommandLine& line) {
    if (!line.words().empty()) throw tool::UsageError{"unexpected argument " + line.words().front()};
    const std::string name = line.value("--name").value_or("mirelo");
    if (name.empty()) throw tool::UsageError{"--name needs a value"};
    tool::checkSystemRoot();
    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    return run(name, line.has("--unmute"));
  });
}
