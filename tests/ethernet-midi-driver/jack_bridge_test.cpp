// The JACK bridge against a real JACK server (`jackd -d dummy`, no sound
// hardware), with a JACK client of the test playing and recording MIDI.

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <unistd.h>

#include "tests/ethernet-midi-driver/jack_test_support.h"
#include "tests/ethernet-midi-driver/mirelo_test_support.h"

namespace mirelo_testing {
namespace {

using Bytes = std::vector<uint8_t>;

// Plays what the test queues on its output port; records what reaches its input port.
class JackTestClient {
 public:
  explicit JackTestClient(const std::string& server) {
    jack_status_t status;
    client_ = jack_client_open("wn-test", JackOptions(JackNoStartServer | JackServerName), &status, server.c_str());
    if (client_ == nullptr) return;
    out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    toPlay_ = jack_ringbuffer_create(4096);
    played_ = jack_ringbuffer_create(65536);
    jack_set_process_callback(client_, &JackTestClient::process, this);
    jack_activate(client_);
  }
  ~JackTestClient() {
    if (client_ != nullptr) jack_client_close(client_);
    if (toPlay_ != nullptr) jack_ringbuffer_free(toPlay_);
    if (played_ != nullptr) jack_ringbuffer_free(played_);
  }

  bool open() const { return client_ != nullptr; }
  bool connect(const std::string& from, const std::string& to) { return jack_connect(client_, from.c_str(), to.c_str()) == 0; }

  void play(const Bytes& message) {
    const uint8_t size = static_cast<uint8_t>(message.size());
    jack_ringbuffer_write(toPlay_, reinterpret_cast<const char*>(&size), 1);
    jack_ringbuffer_write(toPlay_, reinterpret_cast<const char*>(message.data()), message.size());
  }

  // The messages received so far.
  std::vector<Bytes> received() {
    while (jack_ringbuffer_read_space(played_) > 0) {
      uint8_t size = 0;
      jack_ringbuffer_read(played_, reinterpret_cast<char*>(&size), 1);
      Bytes message(size);
      jack_ringbuffer_read(played_, reinterpret_cast<char*>(message.data()), size);
      messages_.push_back(message);
    }
    return messages_;
  }

 private:
  static int process(jack_nframes_t frames, void* argument) {
    auto* self = static_cast<JackTestClient*>(argument);
    void* out = jack_port_get_buffer(self->out_, frames);
    jack_midi_clear_buffer(out);
    while (jack_ringbuffer_read_space(self->toPlay_) > 0) {
      uint8_t size = 0;
      jack_ringbuffer_read(self->toPlay_, reinterpret_cast<char*>(&size), 1);
      jack_midi_data_t* slot = jack_midi_event_reserve(out, 0, size);
      jack_ringbuffer_read(self->toPlay_, reinterpret_cast<char*>(slot), size);
    }
    void* in = jack_port_get_buffer(self->in_, frames);
    for (uint32_t i = 0; i < jack_midi_get_event_count(in); ++i) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, in, i) != 0 || event.size > 255) continue;
      const uint8_t size = static_cast<uint8_t>(event.size);
      jack_ringbuffer_write(self->played_, reinterpret_cast<const char*>(&size), 1);
      jack_ringbuffer_write(self->played_, reinterpret_cast<const char*>(event.buffer), size);
    }
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* out_ = nullptr;
  jack_port_t* in_ = nullptr;
  jack_ringbuffer_t* toPlay_ = nullptr;
  jack_ringbuffer_t* played_ = nullptr;
  std::vector<Bytes> messages_;
};

class JackBridgeTest : public MireloTest {
 protected:
  void SetUp() override {
    MireloTest::SetUp();
    ASSERT_TRUE(server.ready()) << "jackd -d dummy did not start: " << server.output();
    start(2);
    bridge = std::make_unique<testing_support::BackgroundProgram>(
        std::vector<std::string>{JACK_BRIDGE, "--unmute"},
        std::map<std::string, std::string>{{"WN_SYSTEM_ROOT", root.path().string()},
                                           {"JACK_DEFAULT_SERVER", server.name()}});
    ASSERT_TRUE(bridge->waitForOutput("bridging 2 port(s)")) << bridge->output();
    ASSERT_TRUE(client.open());
  }
  void TearDown() override {
    if (bridge) {
      EXPECT_EQ(bridge->stop(), 0) << bridge->output();
    }
    MireloTest::TearDown();
  }

  JackServer server;
  JackTestClient client{server.name()};
  std::unique_ptr<testing_support::BackgroundProgram> bridge;
};

TEST_F(JackBridgeTest, MessagesFromTheNetworkReachJackWhole) {
  ASSERT_TRUE(client.connect("mirelo:Midi02 capture", "wn-test:in"));
  ASSERT_TRUE(waitConnected(2, true));
  RawSocket other(0, false, testing_support::kSecondComputerAddress);
  // Until JACK has the connection in its graph, what the bridge plays is lost:
  // a clock byte is sent until it arrives.
  bool connected = false;
  for (int attempt = 0; attempt < 25 && !connected; ++attempt) {
    ASSERT_TRUE(other.sendTo(kFirstPort + 1, {0xF8}));
    connected = eventually([&] { return !client.received().empty(); }, 200ms);
  }
  ASSERT_TRUE(connected);
  const size_t clocks = client.received().size();
  ASSERT_TRUE(other.sendTo(kFirstPort + 1, {0x90, 0x3C, 0x7F, 0xB0}));  // the second message is split
  ASSERT_TRUE(other.sendTo(kFirstPort + 1, {0x07, 0x64}));
  ASSERT_TRUE(eventually([&] { return client.received().size() >= clocks + 2; }));
  const auto received = client.received();
  EXPECT_EQ(std::vector<Bytes>(received.end() - 2, received.end()), (std::vector<Bytes>{{0x90, 0x3C, 0x7F}, {0xB0, 0x07, 0x64}}))
      << ::testing::PrintToString(received);
}

TEST_F(JackBridgeTest, JackMessagesGoToTheNetworkAndComeBackWithLoopBack) {
  ASSERT_TRUE(client.connect("wn-test:out", "mirelo:Midi01 playback"));
  ASSERT_TRUE(client.connect("mirelo:Midi01 capture", "wn-test:in"));
  ASSERT_TRUE(waitConnected(1, true));
  RawSocket watcher(kFirstPort, true);
  // JACK makes new connections part of its graph in its own time: the note is
  // played until it reaches the network.
  std::optional<std::vector<uint8_t>> datagram;
  for (int attempt = 0; attempt < 25 && !datagram; ++attempt) {
    client.play({0x90, 0x40, 0x60});
    datagram = watcher.receive(200ms);
  }
  ASSERT_TRUE(datagram);
  EXPECT_EQ(*datagram, (Bytes{0x90, 0x40, 0x60}));
  ASSERT_TRUE(eventually([&] { return !client.received().empty(); }));
  client.play({0xF0, 0x7D, 0x01, 0xF7});
  ASSERT_TRUE(eventually([&] { return client.received().back() == Bytes{0xF0, 0x7D, 0x01, 0xF7}; }))
      << ::testing::PrintToString(client.received());
  for (size_t i = 0; i + 1 < client.received().size(); ++i) EXPECT_EQ(client.received()[i], (Bytes{0x90, 0x40, 0x60}));
}

TEST(JackBridgeProgram, RefusesUnknownArgumentsAndSaysWhatIsMissing) {
  auto result = testing_support::runProgram({JACK_BRIDGE, "--loud"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.errors.find("unknown option --loud"), std::string::npos) << result.errors;
  testing_support::TestSystemRoot root;
  result = testing_support::runProgram({JACK_BRIDGE}, {{"WN_SYSTEM_ROOT", root.path().string()}});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.errors.find("no device host is running"), std::string::npos) << result.errors;
  result = testing_support::runProgram({JACK_BRIDGE, "--version"});
  EXPECT_EQ(result.output.rfind("midi-jack-bridge ", 0), 0u) << result.output;
}

TEST_F(MireloTest, TheBridgeNeedsAJackServer) {
  start(1);
  const auto result = testing_support::runProgram(
      {JACK_BRIDGE}, {{"WN_SYSTEM_ROOT", root.path().string()}, {"JACK_DEFAULT_SERVER", "wn-no-such-server"}});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.errors.find("no JACK server"), std::string::npos) << result.errors;
}

}  // namespace
}  // namespace mirelo_testing
