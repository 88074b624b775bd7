// Streaming: start, stop, the buffer thread and the sample position.

#include <atomic>
#include <cstring>

#include "asio/asio_driver.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/threads.h"
#include "platform/waits.h"

namespace {

constexpr uint8_t kPcmSilence = 0x00;
constexpr uint8_t kDsdSilence = 0x96;
constexpr uint32_t kTimerPeriodMs = 1;
// init reads the streaming status this often; start once more.
constexpr uint32_t kStartStatusReads = 201;
constexpr int32_t kDsdFrameSamples = 64;

}  // namespace

ASIOError AsioDriver::start() {
  if (state_ == AsioDriverState::Running) return ASE_OK;
  if (state_ != AsioDriverState::Prepared || callbacks_ == nullptr) return ASE_NotPresent;
  if (!client_.waitUntilStreaming(kStartStatusReads)) return ASE_NotPresent;
  // Notifications from before this run are out of date.
  if (client_.drainNotifications() != 0) return ASE_NotPresent;

  timerPeriodActive_ = platform::timeBeginPeriod(kTimerPeriodMs) == platform::TIMERR_NOERROR;
  platform::resetEvent(stopEvent_.handle());
  platform::resetEvent(startedEvent_.handle());
  state_ = AsioDriverState::Running;
  if (bufferThread_.start(&bufferThreadCallback_, 0, 0) != 0) {
    if (timerPeriodActive_) platform::timeEndPeriod(kTimerPeriodMs);
    timerPeriodActive_ = false;
    state_ = AsioDriverState::Prepared;
    return ASE_NotPresent;
  }
  // The thread sets the started event once the buffers hold silence.
  const platform::Handle started[] = {startedEvent_.handle(), bufferThread_.handle()};
  platform::waitForMultiple(2, started, platform::INFINITE);
  return ASE_OK;
}

ASIOError AsioDriver::stop() {
  platform::setEvent(stopEvent_.handle());
  // A host that stops from inside its buffer switch cannot wait for the
  // thread it is running on; the thread ends when the switch returns.
  if (bufferThread_.handle() != nullptr && bufferThread_.threadId() != platform::currentThreadId()) {
    bufferThread_.wait(platform::INFINITE);
  }
  if (state_ == AsioDriverState::Running) state_ = AsioDriverState::Prepared;
  if (timerPeriodActive_) platform::timeEndPeriod(kTimerPeriodMs);
  timerPeriodActive_ = false;
  return ASE_OK;
}

ASIOError AsioDriver::getSamplePosition(ASIOSamples* position, ASIOTimeStamp* timeStamp) {
  if (position == nullptr || timeStamp == nullptr) return ASE_InvalidParameter;
  platform::CriticalSectionLock lock(timeLock_);
  *position = timeInfo_.timeInfo.samplePosition;
  *timeStamp = timeInfo_.timeInfo.systemTime;
  return ASE_OK;
}

uint32_t AsioDriver::runBufferThread() {
  const platform::Handle handles[] = {bufferEvent_.handle(), client_.notificationEvent(), stopEvent_.handle()};
  platform::setCurrentThreadPriority(platform::THREAD_PRIORITY_TIME_CRITICAL);
  sampleCounter_ = 0;
  timeStamp_ = 0;
  fillSilence();
  platform::setEvent(startedEvent_.handle());

  // Pre-roll: the host fills both halves before the kernel driver starts.
  std::atomic_ref<uint32_t>(sharedBlock_->bufferIndex).store(0, std::memory_order_release);
  switchBuffers();
  std::atomic_ref<uint32_t>(sharedBlock_->bufferIndex).store(1, std::memory_order_release);
  switchBuffers();
  if (client_.ioctlAsioStart() != 0) return 1;

  for (;;) {
    const uint32_t woken = platform::waitForMultiple(3, handles, platform::INFINITE);
    if (woken == platform::WAIT_OBJECT_0) {
      switchBuffers();
      std::atomic_ref<uint32_t>(sharedBlock_->acknowledgeCounter).fetch_add(1, std::memory_order_acq_rel);
    } else if (woken == platform::WAIT_OBJECT_0 + 1) {
      handleNotifications();
    } else {
      break;  // the stop event, or a failed wait
    }
  }
  client_.ioctlAsioStop();
  return 0;
}

void AsioDriver::fillSilence() {
  const AsioChannelSet& set = currentSet();
  for (const auto* list : {&set.activeInputs, &set.activeOutputs}) {
    for (const AsioChannel* channel : *list) {
      std::memset(channel->buffer, channel->isDsd() ? kDsdSilence : kPcmSilence, channel->bufferBytes);
    }
  }
}

void AsioDriver::switchBuffers() {
  timeStamp_ = uint64_t{platform::timeGetTime()} * 1'000'000;
  const int32_t index = static_cast<int32_t>(std::atomic_ref<uint32_t>(sharedBlock_->bufferIndex).load(
                                                 std::memory_order_acquire) &
                                             1);
  {
    platform::CriticalSectionLock lock(timeLock_);
    timeInfo_.timeInfo.samplePosition = asioSamples(sampleCounter_);
    timeInfo_.timeInfo.systemTime = asioTimeStamp(timeStamp_);
  }
  if (host_.timeInfo) {
    callbacks_->bufferSwitchTimeInfo(&timeInfo_, index, ASIOTrue);
  } else {
    callbacks_->bufferSwitch(index, ASIOTrue);
  }
  sampleCounter_ += uint64_t{bufferFrames_} * (dsdMode_ ? kDsdFrameSamples : 1);
}

void AsioDriver::handleNotifications() {
  ORVANE_MESSAGE message{};
  while (client_.readNextNotification(message) == 0) {
    if (message.code == ORVANE_MSG_CODE_STREAMING_CONFIGURATION_CHANGED) {
      readSettings();
      if (host_.resetRequest) hostMessage(kAsioResetRequest, 0);
    } else if (message.code == ORVANE_MSG_CODE_SAMPLE_RATE_CHANGED) {
      readSettings();
      if (host_.bufferSizeChange) {
        hostMessage(kAsioBufferSizeChange, 0);
      } else if (host_.resetRequest) {
        hostMessage(kAsioResetRequest, 0);
      }
    }
  }
}
