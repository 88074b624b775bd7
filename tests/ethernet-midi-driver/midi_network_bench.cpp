// Latency and throughput of the Ethernet MIDI driver between two emulated
// computers, in a private network namespace, against the raw mechanism
// measured in the same run (a bare UDP multicast socket pair) and against
// JACK's MIDI routing, and throughput against the MIDI wire rate.
//
// Computer A is the driver in a device host inside this process (multicast
// interface 127.0.0.1), computer B a devhost process (127.0.0.2). Every
// process started here (devhost, jackd, the bridge) ends with this one.

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "tests/ethernet-midi-driver/jack_test_support.h"
#include "tests/ethernet-midi-driver/mirelo_test_support.h"

namespace mirelo_testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kWireBytesPerSecond = 31250.0 / 10.0;  // 10 bits per byte on the MIDI wire
constexpr int kLatencyRounds = 2000;

double microsecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct Summary {
  double median = 0;
  double p99 = 0;
  double mean = 0;
};

Summary summarize(std::vector<double> samples) {
  if (samples.empty()) return {};
  std::sort(samples.begin(), samples.end());
  Summary summary;
  summary.median = samples[samples.size() / 2];
  summary.p99 = samples[samples.size() * 99 / 100];
  summary.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
  return summary;
}

void printLatency(const char* what, const Summary& summary, const Summary* base) {
  std::printf("  %-52s median %8.1f us  p99 %8.1f us  mean %8.1f us", what, summary.median, summary.p99, summary.mean);
  if (base != nullptr) std::printf("   x%.2f of bare (median)", summary.median / base->median);
  std::printf("\n");
}

// ---------------------------------------------------------------- latency

// The sender and a receiver blocked in recv on a thread of its own, as two
// programs would be: one wake-up per message.
Summary bareLatency() {
  RawSocket sender(0, false, "127.0.0.1");
  RawSocket receiver(21999, true, testing_support::kSecondComputerAddress);
  std::atomic<int> arrived{0};
  Clock::time_point arrivedAt;
  std::thread reader([&] {
    for (int i = 0; i < kLatencyRounds; ++i) {
      if (!receiver.receive()) break;
      arrivedAt = Clock::now();
      arrived.store(i + 1);
    }
  });
  std::vector<double> samples;
  for (int i = 0; i < kLatencyRounds; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(50));  // the receiver is back in recv
    const auto start = Clock::now();
    sender.sendTo(21999, {0x90, static_cast<uint8_t>(i & 0x7F), 0x7F});
    while (arrived.load() != i + 1) {
      if (microsecondsSince(start) > 2e6) break;
      std::this_thread::yield();
    }
    if (arrived.load() != i + 1) break;
    samples.push_back(std::chrono::duration<double, std::micro>(arrivedAt - start).count());
  }
  reader.join();
  return summarize(samples);
}

// Sender and receiver in one thread: the datagram is in the receiving
// socket when sendto returns, so this is the network stack alone.
Summary stackLatency() {
  RawSocket sender(0, false, "127.0.0.1");
  RawSocket receiver(21997, true, testing_support::kSecondComputerAddress);
  std::vector<double> samples;
  for (int i = 0; i < kLatencyRounds; ++i) {
    const auto start = Clock::now();
    sender.sendTo(21997, {0x90, static_cast<uint8_t>(i & 0x7F), 0x7F});
    if (!receiver.receive()) break;
    samples.push_back(microsecondsSince(start));
  }
  return summarize(samples);
}

struct DriverLatency {
  Summary oneWay;     // application write on A to application read on B
  Summary atPort;     // application write on A to the bytes' arrival at B's port (their record time)
};

// A reader on a thread of its own, waiting in a read of B's capture pin as
// a receiving application does; the writer writes on A's render pin.
DriverLatency driverLatency(KsMidiPin& render, KsMidiPin& capture) {
  std::atomic<int> arrived{0};
  Clock::time_point arrivedAt;
  int64_t recordTime = 0;
  std::thread reader([&] {
    std::vector<uint8_t> buffer(4096);
    for (int i = 0; i < kLatencyRounds; ++i) {
      size_t count = 0;
      int64_t firstTime = 0;
      while (count < 3) {
        uint32_t returned = 0;
        if (!platform::deviceIoControl(capture.handle(), platform::IOCTL_KS_READ_STREAM, nullptr, 0, buffer.data(),
                                       static_cast<uint32_t>(buffer.size()), &returned, nullptr)) {
          return;
        }
        std::vector<platform::MidiRecord> records;
        platform::parseMidiRecords(buffer.data(), returned, &records);
        for (const auto& record : records) {
          if (firstTime == 0) firstTime = record.time;
          count += record.bytes.size();
        }
      }
      arrivedAt = Clock::now();
      recordTime = firstTime;
      arrived.store(i + 1);
    }
  });
  std::vector<double> oneWay;
  std::vector<double> atPort;
  for (int i = 0; i < kLatencyRounds; ++i) {
    const uint8_t message[] = {0x90, static_cast<uint8_t>(i & 0x7F), 0x7F};
    std::this_thread::sleep_for(std::chrono::microseconds(50));  // the reader is back in its read
    const auto start = Clock::now();
    const int64_t startTime = platform::monotonicTime100ns();
    render.writeBytes(message, 3);
    while (arrived.load() != i + 1) {
      if (microsecondsSince(start) > 2e6) break;
      std::this_thread::yield();
    }
    if (arrived.load() != i + 1) break;
    oneWay.push_back(std::chrono::duration<double, std::micro>(arrivedAt - start).count());
    atPort.push_back(static_cast<double>(recordTime - startTime) / 10.0);
  }
  if (static_cast<int>(oneWay.size()) < kLatencyRounds) {
    reader.detach();  // blocked in a read that never ends; the process ends soon
  } else {
    reader.join();
  }
  return {summarize(oneWay), summarize(atPort)};
}

// Two JACK clients of one server: the writer's output connected to the
// reader's input (or through other ports between). The time runs from the
// moment the message is handed to the writer to the reader's process call
// that sees it.
class JackLatencyProbe {
 public:
  explicit JackLatencyProbe(const std::string& server) {
    jack_status_t status;
    const auto options = JackOptions(JackNoStartServer | JackServerName);
    writer_ = jack_client_open("wn-bench-writer", options, &status, server.c_str());
    reader_ = jack_client_open("wn-bench-reader", options, &status, server.c_str());
    if (writer_ == nullptr || reader_ == nullptr) return;
    out_ = jack_port_register(writer_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    in_ = jack_port_register(reader_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(writer_, &JackLatencyProbe::write, this);
    jack_set_process_callback(reader_, &JackLatencyProbe::read, this);
    jack_activate(writer_);
    jack_activate(reader_);
  }
  ~JackLatencyProbe() {
    if (writer_ != nullptr) jack_client_close(writer_);
    if (reader_ != nullptr) jack_client_close(reader_);
  }
  bool ready() const { return out_ != nullptr && in_ != nullptr; }
  jack_client_t* client() const { return writer_; }

  Summary measure(int rounds) {
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
      arrived_.store(false);
      const auto start = Clock::now();
      pending_.store(true);
      while (!arrived_.load()) {
        if (microsecondsSince(start) > 1e6) return summarize(samples.empty() ? std::vector<double>{0} : samples);
        std::this_thread::yield();
      }
      samples.push_back(std::chrono::duration<double, std::micro>(arrivedAt_ - start).count());
      std::this_thread::sleep_for(std::chrono::microseconds(300 + (i * 97) % 1500));  // spread over the period
    }
    return summarize(samples);
  }

 private:
  static int write(jack_nframes_t frames, void* argument) {
    auto* self = static_cast<JackLatencyProbe*>(argument);
    void* out = jack_port_get_buffer(self->out_, frames);
    jack_midi_clear_buffer(out);
    if (self->pending_.exchange(false)) {
      const jack_midi_data_t message[] = {0x90, 0x3C, 0x7F};
      jack_midi_event_write(out, 0, message, 3);
    }
    return 0;
  }
  static int read(jack_nframes_t frames, void* argument) {
    auto* self = static_cast<JackLatencyProbe*>(argument);
    void* in = jack_port_get_buffer(self->in_, frames);
    if (jack_midi_get_event_count(in) > 0) {
      self->arrivedAt_ = Clock::now();
      self->arrived_.store(true);
    }
    return 0;
  }

  jack_client_t* writer_ = nullptr;
  jack_client_t* reader_ = nullptr;
  jack_port_t* out_ = nullptr;
  jack_port_t* in_ = nullptr;
  std::atomic<bool> pending_{false};
  std::atomic<bool> arrived_{false};
  Clock::time_point arrivedAt_;
};

// ---------------------------------------------------------------- throughput

struct Flow {
  double bytesPerSecond = 0;
  uint64_t sent = 0;
  uint64_t received = 0;
  uint64_t corrupted = 0;  // received bytes out of sequence
  uint64_t lostInPort = 0;  // bytes the receiving port dropped for a reader behind (its records say so)
  uint64_t socketDrops = 0;  // datagrams the receiving sockets dropped (full receive buffer)
};

// Datagrams the network namespace's UDP sockets dropped for want of room.
uint64_t udpReceiveBufferErrors() {
  std::FILE* file = std::fopen("/proc/net/snmp", "r");
  if (file == nullptr) return 0;
  char line[512];
  uint64_t errors = 0;
  bool header = true;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (std::strncmp(line, "Udp: ", 5) != 0) continue;
    if (header) {
      header = false;
      continue;
    }
    unsigned long long values[5] = {};
    if (std::sscanf(line + 5, "%llu %llu %llu %llu %llu", &values[0], &values[1], &values[2], &values[3],
                    &values[4]) == 5) {
      errors = values[4];  // RcvbufErrors
    }
    break;
  }
  std::fclose(file);
  return errors;
}

// Sends `seconds` of data bytes 0..127 in a running sequence from `render`
// to `capture`, at `rate` bytes per second (0: as fast as the driver takes
// them), and counts what arrives in order.
Flow runFlow(KsMidiPin& render, KsMidiPin& capture, double rate, double seconds) {
  Flow flow;
  std::atomic<bool> writing{true};
  std::thread reader([&] {
    std::vector<uint8_t> buffer(64 * 1024);
    uint8_t expected = 0;
    auto lastData = Clock::now();
    while (writing.load() || flow.received < flow.sent) {
      if (!writing.load() && microsecondsSince(lastData) > 1e6) break;
      std::vector<platform::MidiRecord> records;
      if (capture.read(&records, 100) != 0) continue;
      lastData = Clock::now();
      for (const auto& record : records) {
        flow.lostInPort += record.lostBytes;
        for (uint8_t byte : record.bytes) {
          if (byte != expected) ++flow.corrupted;
          expected = static_cast<uint8_t>((byte + 1) & 0x7F);
          ++flow.received;
        }
      }
    }
  });
  constexpr size_t kChunk = 512;
  std::vector<uint8_t> chunk(kChunk);
  uint8_t next = 0;
  const uint64_t dropsBefore = udpReceiveBufferErrors();
  const auto start = Clock::now();
  while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
    if (rate > 0) {
      const double due = static_cast<double>(flow.sent) / rate;
      const double now = std::chrono::duration<double>(Clock::now() - start).count();
      if (due > now) std::this_thread::sleep_for(std::chrono::duration<double>(due - now));
    }
    for (uint8_t& byte : chunk) {
      byte = next;
      next = static_cast<uint8_t>((next + 1) & 0x7F);
    }
    if (render.writeBytes(chunk.data(), chunk.size()) != 0) break;
    flow.sent += chunk.size();
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  writing.store(false);
  reader.join();
  flow.socketDrops = udpReceiveBufferErrors() - dropsBefore;
  flow.bytesPerSecond = static_cast<double>(flow.received) / elapsed;
  return flow;
}

void printFlow(const char* what, const Flow& flow) {
  const uint64_t lost = flow.sent > flow.received ? flow.sent - flow.received : 0;
  std::printf("  %-40s %10.0f B/s  x%7.1f wire rate   sent %9llu  lost %llu  out of order %llu\n", what,
              flow.bytesPerSecond, flow.bytesPerSecond / kWireBytesPerSecond,
              static_cast<unsigned long long>(flow.sent), static_cast<unsigned long long>(lost),
              static_cast<unsigned long long>(flow.corrupted));
  if (lost > 0) {
    std::printf("  %-40s %llu bytes dropped by the receiving port for a reader behind, %llu datagrams by the"
                " receiving sockets\n",
                "", static_cast<unsigned long long>(flow.lostInPort), static_cast<unsigned long long>(flow.socketDrops));
  }
}

Flow bareFlow(double seconds) {
  RawSocket sender(0, false, "127.0.0.1");
  RawSocket receiver(21998, true, testing_support::kSecondComputerAddress);
  Flow flow;
  std::atomic<bool> sending{true};
  std::thread reader([&] {
    while (true) {
      auto datagram = receiver.receive(std::chrono::milliseconds(300));
      if (!datagram) {
        if (!sending.load()) break;
        continue;
      }
      flow.received += datagram->size();
    }
  });
  const std::vector<uint8_t> datagram(1024, 0x7F);
  const uint64_t dropsBefore = udpReceiveBufferErrors();
  const auto start = Clock::now();
  while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
    if (sender.sendTo(21998, datagram)) flow.sent += datagram.size();
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  sending.store(false);
  reader.join();
  flow.socketDrops = udpReceiveBufferErrors() - dropsBefore;
  flow.bytesPerSecond = static_cast<double>(flow.received) / elapsed;
  return flow;
}

// Reads and drops whatever waits on the pins (the bridge's messages on port
// 20 reached computer B too).
void drain(std::vector<std::unique_ptr<KsMidiPin>>& pins) {
  for (auto& pin : pins) {
    std::vector<platform::MidiRecord> records;
    while (pin->read(&records, 50) == 0) records.clear();
  }
}

// The device host's share of the path: one property request on the
// control filter, there and back.
Summary requestRoundTrip(mirelo_tools::ControlFilter& control) {
  std::vector<double> samples;
  uint32_t mask = 0;
  for (int i = 0; i < kLatencyRounds; ++i) {
    const auto start = Clock::now();
    control.getMuteMask(&mask);
    samples.push_back(microsecondsSince(start));
  }
  return summarize(samples);
}

// ---------------------------------------------------------------- the run

int run() {
  std::string error;
  if (!testing_support::enterPrivateNetwork(&error)) {
    std::fprintf(stderr, "this benchmark sends UDP multicast and runs only in a private network namespace: %s\n",
                 error.c_str());
    return 1;
  }
  testing_support::TestSystemRoot root;
  install(root.path());
  setMulticastInterface("127.0.0.1");
  setPorts(20);
  platform::kernel::DeviceHost host;
  if (host.start() != 0 || host.addDriver(&inMirelo, u"Mirelo") != 0) {
    std::fprintf(stderr, "the driver did not start\n");
    return 1;
  }
  SecondComputer second(20);
  if (!second.ready()) {
    std::fprintf(stderr, "the second computer did not start: %s\n", second.output().c_str());
    return 1;
  }
  // Computer B's side is opened first, with its root as this process's
  // system root; computer A's work must not run meanwhile.
  mirelo_tools::MireloPorts remote;
  mirelo_tools::ControlFilter remoteControl;
  auto pin = [](const std::u16string& path, uint32_t id) {
    uint32_t failure = 0;
    auto created = KsMidiPin::create(path, id, &failure);
    if (created) created->setState(platform::KSSTATE_RUN);
    return created;
  };
  std::vector<std::unique_ptr<KsMidiPin>> captures;
  second.withRoot([&] {
    remote = mirelo_tools::findMireloPorts();
    remoteControl.open(remote.controlFilter);
    for (uint32_t port = 1; port <= 20; ++port) captures.push_back(pin(remote.ports.at(port), mirelo::kCapturePin));
  });
  remoteControl.setMuteMask(0);
  const auto local = mirelo_tools::findMireloPorts();
  mirelo_tools::ControlFilter localControl;
  localControl.open(local.controlFilter);
  localControl.setMuteMask(0);
  std::vector<std::unique_ptr<KsMidiPin>> renders;
  for (uint32_t port = 1; port <= 20; ++port) {
    renders.push_back(pin(local.ports.at(port), mirelo::kRenderPin));
    if (!renders.back() || !captures[port - 1]) {
      std::fprintf(stderr, "cannot open the pins of port %u\n", port);
      return 1;
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // connect work done on both computers

  std::printf("One-way latency, application write to application read (%d rounds, 3-byte messages)\n",
              kLatencyRounds);
  const Summary bare = bareLatency();
  printLatency("bare UDP multicast socket pair, receiver thread", bare, nullptr);
  printLatency("(the same in one thread: the network stack alone)", stackLatency(), &bare);
  const DriverLatency driver = driverLatency(*renders[0], *captures[0]);
  printLatency("Mirelo, computer A to computer B", driver.oneWay, &bare);
  printLatency("(of which: write on A to the bytes at B's port)", driver.atPort, &bare);
  printLatency("(a device request round trip, for scale)", requestRoundTrip(localControl), &bare);

  {
    JackServer jack(64);
    if (jack.ready()) {
      {
        JackLatencyProbe direct(jack.name());
        if (direct.ready()) {
          jack_connect(direct.client(), "wn-bench-writer:out", "wn-bench-reader:in");
          printLatency("JACK MIDI, client to client (dummy, 64 frames)", direct.measure(500), &bare);
        }
      }
      // Through the bridge: JACK, port 20 of computer A, the group, back to A
      // (loop-back on) and to JACK.
      testing_support::BackgroundProgram bridge(
          {JACK_BRIDGE}, {{"WN_SYSTEM_ROOT", root.path().string()}, {"JACK_DEFAULT_SERVER", jack.name()}});
      JackLatencyProbe probe(jack.name());
      if (bridge.waitForOutput("bridging") && probe.ready()) {
        jack_connect(probe.client(), "wn-bench-writer:out", "mirelo:Midi20 playback");
        jack_connect(probe.client(), "mirelo:Midi20 capture", "wn-bench-reader:in");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        printLatency("JACK through the bridge and Mirelo (loop-back)", probe.measure(500), &bare);
      }
      bridge.stop();  // SIGTERM: a JACK client that ends cleanly leaves nothing behind
    } else {
      std::printf("  (jackd -d dummy did not start, no JACK figures: %s)\n", jack.output().c_str());
    }
  }

  drain(captures);
  std::printf("\nThroughput A to B for 2 s, 512-byte writes of a running byte sequence (wire rate %.0f B/s)\n",
              kWireBytesPerSecond);
  printFlow("bare UDP socket pair, 1024-byte datagrams", bareFlow(2.0));
  printFlow("one port, paced at 100x the wire rate", runFlow(*renders[1], *captures[1], 100 * kWireBytesPerSecond, 2.0));
  printFlow("one port, as fast as it takes", runFlow(*renders[2], *captures[2], 0, 2.0));

  std::vector<Flow> flows(20);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < 20; ++i) {
    threads.emplace_back([&, i] { flows[i] = runFlow(*renders[i], *captures[i], 100 * kWireBytesPerSecond, 2.0); });
  }
  for (auto& thread : threads) thread.join();
  Flow total;
  const uint64_t dropsBefore = udpReceiveBufferErrors();
  double slowest = flows[0].bytesPerSecond;
  for (const Flow& flow : flows) {
    total.bytesPerSecond += flow.bytesPerSecond;
    total.sent += flow.sent;
    total.received += flow.received;
    total.corrupted += flow.corrupted;
    total.lostInPort += flow.lostInPort;
    slowest = std::min(slowest, flow.bytesPerSecond);
  }
  total.socketDrops = udpReceiveBufferErrors() - dropsBefore;
  printFlow("20 ports at once, each paced at 100x, sum", total);
  std::printf("  %-40s %10.0f B/s  x%7.1f wire rate\n", "20 ports at once, slowest port", slowest,
              slowest / kWireBytesPerSecond);
  renders.clear();
  captures.clear();
  host.stop();
  return 0;
}

}  // namespace
}  // namespace mirelo_testing

int main() { return mirelo_testing::run(); }
