#include "usb-audio-kernel-sim/asio_stream.h"

#include "usb-audio-kernel-sim/sim_control.h"

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <numbers>
#include <system_error>

namespace usbaudio_sim {
namespace {

constexpr double kToneFrequency = 997.0;
constexpr double kToneAmplitude = 0.1;  // -20 dBFS
constexpr double kFullScale = 2147483648.0;
// A thread this many periods late skips ahead instead of catching up.
constexpr int64_t kMaxLatePeriods = 4;

int64_t monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

int32_t peakLevel(const int32_t* samples, uint32_t count) {
  uint32_t peak = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const int64_t value = samples[i];
    peak = std::max(peak, static_cast<uint32_t>(value < 0 ? -value : value));
  }
  if (peak == 0) return kSilentLevel;
  const double level = 2000.0 * std::log10(peak / kFullScale);
  return std::max(kSilentLevel, static_cast<int32_t>(std::lround(level)));
}

void raiseToRealTime() {
  sched_param parameter{};
  parameter.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
  // Without the privilege the thread keeps the normal policy; it never spins.
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter);
}

}  // namespace

AsioStream::AsioStream(std::shared_ptr<platform::kernel::MappedMemory> sharedBlock,
                       std::shared_ptr<platform::kernel::KernelEvent> bufferEvent, uint32_t frames,
                       const StreamingEngine& engine, std::atomic<uint32_t>& missedEvents)
    : sharedBlock_(std::move(sharedBlock)), bufferEvent_(std::move(bufferEvent)), frames_(frames), engine_(engine),
      driverMissedEvents_(missedEvents), signalTimes_(SIM_MAX_SIGNAL_TIMES) {}

AsioStream::~AsioStream() { stop(); }

void AsioStream::setChannelBuffer(ChannelBufferSpec wanted) {
  std::lock_guard lock(mutex_);
  auto& list = wanted.direction == ORVANE_CHANNEL_DIRECTION_INPUT ? inputs_ : outputs_;
  auto found = std::find_if(list.begin(), list.end(), [&](const Buffer& b) { return b.spec.channelId == wanted.channelId; });
  if (found != list.end()) {
    found->spec = std::move(wanted);
  } else {
    list.push_back(Buffer{std::move(wanted)});
  }
  linkPartners();
}

void AsioStream::removeChannel(uint64_t channelId) {
  std::lock_guard lock(mutex_);
  for (auto* list : {&inputs_, &outputs_}) {
    std::erase_if(*list, [&](const Buffer& b) { return b.spec.channelId == channelId; });
  }
  linkPartners();
}

void AsioStream::removeDeviceChannels(uint32_t deviceFirst) {
  std::lock_guard lock(mutex_);
  for (auto* list : {&inputs_, &outputs_}) {
    std::erase_if(*list, [&](const Buffer& b) { return b.spec.deviceFirst == deviceFirst; });
  }
  linkPartners();
}

bool AsioStream::hasChannel(uint64_t channelId) const {
  std::lock_guard lock(mutex_);
  for (const auto* list : {&inputs_, &outputs_}) {
    for (const Buffer& buffer : *list) {
      if (buffer.spec.channelId == channelId) return true;
    }
  }
  return false;
}

void AsioStream::linkPartners() {
  for (Buffer& input : inputs_) {
    input.partner = -1;
    const uint32_t wantedType =
        input.spec.portType == ORVANE_PORT_TYPE_VIRTUAL ? ORVANE_PORT_TYPE_I2S : input.spec.portType;
    for (size_t i = 0; i < outputs_.size(); ++i) {
      const ChannelBufferSpec& output = outputs_[i].spec;
      if (output.deviceFirst == input.spec.deviceFirst && output.portType == wantedType &&
          output.index == input.spec.index && output.halfBytes == input.spec.halfBytes) {
        input.partner = static_cast<int>(i);
        break;
      }
    }
  }
}

uint32_t AsioStream::start() {
  if (thread_.joinable()) return 0;
  const int timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
  if (timerFd < 0) return static_cast<uint32_t>(errno);
  const int stopFd = eventfd(0, EFD_CLOEXEC);
  if (stopFd < 0) {
    const int error = errno;
    close(timerFd);
    return static_cast<uint32_t>(error);
  }
  {
    std::lock_guard lock(mutex_);
    haveAcknowledgement_ = false;
    lastSwitchNanoseconds_ = 0;
    counters_.running = true;
  }
  stopFd_ = stopFd;
  running_ = true;
  try {
    thread_ = std::thread([this, timerFd, stopFd] {
      run(timerFd, stopFd);
      close(timerFd);
    });
  } catch (const std::system_error& e) {
    close(timerFd);
    close(stopFd);
    stopFd_ = -1;
    running_ = false;
    std::lock_guard lock(mutex_);
    counters_.running = false;
    return static_cast<uint32_t>(e.code().value() != 0 ? e.code().value() : EAGAIN);
  }
  return 0;
}

void AsioStream::stop() {
  if (!thread_.joinable()) return;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t written = write(stopFd_, &one, sizeof one);
  thread_.join();
  close(stopFd_);
  stopFd_ = -1;
  running_ = false;
  std::lock_guard lock(mutex_);
  counters_.running = false;
}

void AsioStream::run(int timerFd, int stopFd) {
  raiseToRealTime();
  uint32_t rateInUse = 0;
  double periodNanoseconds = 0;
  int64_t epoch = 0;
  int64_t tick = 0;
  for (;;) {
    const uint32_t rate = engine_.sampleRate.load();
    if (rate != rateInUse) {
      // A new rate starts a new series of deadlines.
      rateInUse = rate;
      periodNanoseconds = 1e9 * frames_ / std::max<uint32_t>(1, bufferFrameRate(rate));
      epoch = monotonicNanoseconds();
      tick = 0;
    }
    ++tick;
    int64_t deadline = epoch + std::llround(static_cast<double>(tick) * periodNanoseconds);
    const int64_t now = monotonicNanoseconds();
    if (now - deadline > kMaxLatePeriods * static_cast<int64_t>(periodNanoseconds)) {
      const auto behind = static_cast<int64_t>(static_cast<double>(now - epoch) / periodNanoseconds) + 1 - tick;
      {
        std::lock_guard lock(mutex_);
        counters_.threadMissedEvents += static_cast<uint32_t>(behind);
      }
      tick += behind;
      deadline = epoch + std::llround(static_cast<double>(tick) * periodNanoseconds);
    }
    itimerspec due{};
    due.it_value.tv_sec = deadline / 1'000'000'000;
    due.it_value.tv_nsec = deadline % 1'000'000'000;
    if (timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &due, nullptr) != 0) return;
    pollfd waits[2] = {{timerFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    while (poll(waits, 2, -1) < 0) {
      if (errno != EINTR) return;
    }
    if (waits[1].revents != 0) return;
    uint64_t expirations = 0;
    [[maybe_unused]] ssize_t got = read(timerFd, &expirations, sizeof expirations);
    runPeriod();
  }
}

void AsioStream::runPeriod() {
  if (handOverHalf()) bufferEvent_->set();
}

bool AsioStream::handOverHalf() {
  std::lock_guard lock(mutex_);
  if (engine_.state.load() != ORVANE_STREAMING_STATE_RUNNING) {
    // Paused: the host gets no buffers, so it owes no acknowledgement.
    haveAcknowledgement_ = false;
    lastSwitchNanoseconds_ = 0;
    return false;
  }
  const uint32_t rate = engine_.sampleRate.load();
  const uint32_t half = nextHalf_;
  nextHalf_ ^= 1;

  for (Buffer& output : outputs_) {
    if (output.spec.portType == ORVANE_PORT_TYPE_DSD) continue;
    const auto* samples = reinterpret_cast<const int32_t*>(output.spec.memory->data() + half * output.spec.halfBytes);
    output.spec.meter->peak.store(peakLevel(samples, output.spec.halfBytes / 4));
  }
  for (Buffer& input : inputs_) fillInput(input, half, rate);

  auto* words = reinterpret_cast<uint32_t*>(sharedBlock_->data());
  const uint32_t acknowledgement = std::atomic_ref<uint32_t>(words[1]).load(std::memory_order_acquire);
  if (haveAcknowledgement_ && acknowledgement == lastAcknowledgement_) {
    ++counters_.eventsMissed;
    driverMissedEvents_.fetch_add(1);
  }
  haveAcknowledgement_ = true;
  lastAcknowledgement_ = acknowledgement;
  std::atomic_ref<uint32_t>(words[0]).store(half, std::memory_order_release);

  const int64_t now = monotonicNanoseconds();
  ++counters_.bufferSwitchEvents;
  counters_.switchIntervalSamples = frames_ * (isDsdRate(rate) ? 64 : 1);
  counters_.switchIntervalMicroseconds = static_cast<uint32_t>(uint64_t{frames_} * 1'000'000 / bufferFrameRate(rate));
  if (lastSwitchNanoseconds_ != 0) {
    const auto interval = static_cast<int32_t>((now - lastSwitchNanoseconds_) / 1000);
    const bool first = counters_.maxIntervalMicroseconds == 0;
    counters_.currentIntervalMicroseconds = interval;
    counters_.minIntervalMicroseconds = first ? interval : std::min(counters_.minIntervalMicroseconds, interval);
    counters_.maxIntervalMicroseconds = std::max(counters_.maxIntervalMicroseconds, interval);
  }
  lastSwitchNanoseconds_ = now;
  // The event is set right after the lock is released (runPeriod).
  signalTimes_[signals_++ % signalTimes_.size()] = monotonicNanoseconds();
  return true;
}

void AsioStream::fillInput(Buffer& input, uint32_t half, uint32_t rate) {
  uint8_t* target = input.spec.memory->data() + half * input.spec.halfBytes;
  if (input.partner >= 0) {
    const Buffer& output = outputs_[static_cast<size_t>(input.partner)];
    std::memcpy(target, output.spec.memory->data() + half * output.spec.halfBytes, input.spec.halfBytes);
  } else if (input.spec.portType == ORVANE_PORT_TYPE_DSD) {
    // First-order delta-sigma modulation of the tone, most significant bit first.
    const double step = 2 * std::numbers::pi * kToneFrequency / rate;
    for (uint32_t byte = 0; byte < input.spec.halfBytes; ++byte) {
      uint8_t bits = 0;
      for (int bit = 7; bit >= 0; --bit) {
        const double value = 0.5 * std::sin(input.tonePhase);
        input.tonePhase = std::fmod(input.tonePhase + step, 2 * std::numbers::pi);
        const double out = input.deltaSigma >= 0 ? 1.0 : -1.0;
        input.deltaSigma += value - out;
        if (out > 0) bits |= static_cast<uint8_t>(1u << bit);
      }
      target[byte] = bits;
    }
    return;
  } else {
    const double step = 2 * std::numbers::pi * kToneFrequency / bufferFrameRate(rate);
    auto* samples = reinterpret_cast<int32_t*>(target);
    for (uint32_t i = 0; i < input.spec.halfBytes / 4; ++i) {
      samples[i] = static_cast<int32_t>(std::lround(kToneAmplitude * (kFullScale - 1) * std::sin(input.tonePhase)));
      input.tonePhase = std::fmod(input.tonePhase + step, 2 * std::numbers::pi);
    }
  }
  if (input.spec.portType != ORVANE_PORT_TYPE_DSD) {
    input.spec.meter->peak.store(peakLevel(reinterpret_cast<const int32_t*>(target), input.spec.halfBytes / 4));
  }
}

AsioStreamCounters AsioStream::counters() const {
  std::lock_guard lock(mutex_);
  AsioStreamCounters snapshot = counters_;
  snapshot.inputChannels = static_cast<uint32_t>(inputs_.size());
  snapshot.outputChannels = static_cast<uint32_t>(outputs_.size());
  return snapshot;
}

std::vector<int64_t> AsioStream::signalTimes() const {
  std::lock_guard lock(mutex_);
  const uint64_t kept = std::min<uint64_t>(signals_, signalTimes_.size());
  std::vector<int64_t> times;
  times.reserve(kept);
  for (uint64_t k = signals_ - kept; k < signals_; ++k) times.push_back(signalTimes_[k % signalTimes_.size()]);
  return times;
}

void AsioStream::clearCounters() {
  std::lock_guard lock(mutex_);
  const bool running = counters_.running;
  counters_ = AsioStreamCounters{};
  counters_.running = running;
}

}  // namespace usbaudio_sim
