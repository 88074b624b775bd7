// The driver object, its COM identity and the IASIO operations other than
// buffers and streaming (asio_driver_buffers.cpp, asio_driver_streaming.cpp).

#include "asio/asio_driver.h"

#include <algorithm>
#include <limits>
#include <new>

#include "asio/asio_module.h"
#include "device-access/copy_text.h"
#include "platform/text.h"

namespace {

// Candidates of getBufferSize: the largest smaller one is the minimum, the
// smallest larger one the maximum (so 32 can be a maximum, never a minimum).
constexpr int64_t kMinimumSizes[] = {64, 128, 256, 512, 1024, 2048, 4096, 8192, 16384, 32768, 65536};
constexpr int64_t kMaximumSizes[] = {32, 64, 128, 256, 512, 1024, 2048, 4096, 8192, 16384, 32768, 65536};
constexpr uint32_t kHighestPcmRate = 384000;
constexpr int32_t kDsdFrameSamples = 64;

// The integer part of a rate; false for rates no 32-bit rate can have.
bool truncatedRate(ASIOSampleRate rate, uint32_t* hz) {
  if (!(rate >= 0) || rate >= 4294967296.0) return false;
  *hz = static_cast<uint32_t>(rate);
  return true;
}

}  // namespace

AsioBufferSizeLimits asioBufferSizeLimits(int64_t size) {
  AsioBufferSizeLimits limits{size, size};
  for (int64_t candidate : kMinimumSizes) {
    if (candidate < size) limits.minimum = candidate;
  }
  for (int64_t candidate : kMaximumSizes) {
    if (candidate > size) {
      limits.maximum = candidate;
      break;
    }
  }
  return limits;
}

AsioDriver::AsioDriver(platform::IUnknown* outer) : AsioDriver(outer, nullptr) {}

AsioDriver::AsioDriver(platform::IUnknown* outer, std::unique_ptr<AsioCustom> custom)
    : CUnknown(outer), custom_(custom ? std::move(custom) : std::unique_ptr<AsioCustom>(new (std::nothrow) AsioCustom)) {}

AsioDriver::~AsioDriver() {
  stop();
  callbacks_ = nullptr;
  releaseBuffers();
  if (dsdMode_) {
    // Leave the devices in PCM for the next host.
    if (setSampleRate(pcmTargetRate()) == ASE_OK) client_.setDsdMode(false);
  }
  custom_.reset();
  client_.closeDriver();
}

CUnknown* AsioDriver::create(platform::IUnknown* outer) {
  auto* driver = new (std::nothrow) AsioDriver(outer);
  if (driver != nullptr && !driver->custom_) {
    delete driver;
    return nullptr;
  }
  return driver;
}

// --- COM identity ------------------------------------------------------------------

platform::HRESULT AsioDriver::QueryInterface(const platform::IID& iid, void** object) {
  return owner()->QueryInterface(iid, object);
}

uint32_t AsioDriver::AddRef() { return owner()->AddRef(); }

uint32_t AsioDriver::Release() { return owner()->Release(); }

platform::HRESULT AsioDriver::NonDelegatingQueryInterface(const platform::IID& iid, void** object) {
  if (iid == CLSID_SorvikUsbAsio) return getInterface(static_cast<IASIO*>(this), object);
  return CUnknown::NonDelegatingQueryInterface(iid, object);
}

// --- Settings ---------------------------------------------------------------------

void AsioDriver::readSettings() {
  ORVANE_ASIO_SETTINGS read{};
  if (client_.ioctlAsioGetSettings(read) != 0) return;
  platform::CriticalSectionLock lock(settingsLock_);
  settings_ = read;
}

ORVANE_ASIO_SETTINGS AsioDriver::currentSettings() const {
  platform::CriticalSectionLock lock(settingsLock_);
  return settings_;
}

bool AsioDriver::rateListed(ASIOSampleRate rate) const {
  uint32_t hz = 0;
  if (!truncatedRate(rate, &hz)) return false;
  const ORVANE_SAMPLE_RATES rates = currentSettings().sampleRates;
  return std::find(rates.rates, rates.rates + rates.rateCount, hz) != rates.rates + rates.rateCount;
}

bool AsioDriver::offersDsd() const {
  return rateListed(ORVANE_SAMPLE_RATE_DSD64) || rateListed(ORVANE_SAMPLE_RATE_DSD128);
}

uint32_t AsioDriver::dsdTargetRate() const {
  const ORVANE_SAMPLE_RATES rates = currentSettings().sampleRates;
  uint32_t target = 0;
  for (uint32_t i = 0; i < rates.rateCount; ++i) {
    if (rates.rates[i] >= ORVANE_SAMPLE_RATE_DSD64 && (target == 0 || rates.rates[i] < target)) target = rates.rates[i];
  }
  return target;
}

uint32_t AsioDriver::pcmTargetRate() const {
  const ORVANE_SAMPLE_RATES rates = currentSettings().sampleRates;
  uint32_t target = 0;
  for (uint32_t i = 0; i < rates.rateCount && rates.rates[i] <= kHighestPcmRate; ++i) {
    if (target == 0 || rates.rates[i] < target) target = rates.rates[i];
  }
  return target;
}

void AsioDriver::setErrorText(const char16_t* text) { copyText(errorText_, text, kAsioErrorTextChars); }

// --- IASIO ------------------------------------------------------------------------

ASIOBool AsioDriver::init(void* /*systemHandle*/) {
  if (state_ != AsioDriverState::Loaded) return ASIOTrue;
  if (startedEvent_.create(true) != 0 || stopEvent_.create(true) != 0) return ASIOFalse;
  if (client_.openConnection(custom_->deviceLinkName(), ORVANE_CLIENT_TYPE_ASIO, true) != 0) {
    setErrorText(kNoDeviceText);
    return ASIOFalse;
  }
  if (!client_.waitUntilStreaming(200)) {
    client_.closeDriver();
    return ASIOFalse;
  }
  readSettings();
  sampleCounter_ = 0;
  pcmSet_.clear();
  dsdSet_.clear();
  // Without a channel list the sets stay empty and the error text says why.
  buildChannelSets();
  state_ = AsioDriverState::Initialised;
  return ASIOTrue;
}

void AsioDriver::getDriverName(char* name) { copyText(name, custom_->driverName(), kAsioDriverNameChars); }

int32_t AsioDriver::getDriverVersion() { return kAsioDriverVersion; }

void AsioDriver::getErrorMessage(char* text) { copyText(text, errorText_, kAsioErrorMessageChars); }

ASIOError AsioDriver::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
  if (numInputChannels == nullptr || numOutputChannels == nullptr) return ASE_InvalidParameter;
  const AsioChannelSet& set = currentSet();
  *numInputChannels = static_cast<int32_t>(set.inputs.size());
  *numOutputChannels = static_cast<int32_t>(set.outputs.size());
  return set.empty() ? ASE_NotPresent : ASE_OK;
}

ASIOError AsioDriver::getLatencies(int32_t* inputLatency, int32_t* outputLatency) {
  if (inputLatency == nullptr || outputLatency == nullptr) return ASE_InvalidParameter;
  ORVANE_ASIO_LATENCIES latencies{};
  if (client_.ioctlAsioGetLatencies(latencies) != 0) {
    *inputLatency = 0;
    *outputLatency = 0;
  } else {
    *inputLatency = hostBufferSize_ + static_cast<int32_t>(latencies.inputLatencyFrames);
    *outputLatency = hostBufferSize_ + static_cast<int32_t>(latencies.outputLatencyFrames);
  }
  return ASE_OK;
}

ASIOError AsioDriver::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                    int32_t* granularity) {
  if (minSize == nullptr || maxSize == nullptr || preferredSize == nullptr || granularity == nullptr) {
    return ASE_InvalidParameter;
  }
  readSettings();
  const int64_t size = int64_t{currentSettings().deviceBufferFrames} * (dsdMode_ ? kDsdFrameSamples : 1);
  const AsioBufferSizeLimits limits = asioBufferSizeLimits(size);
  const auto clamp = [](int64_t value) {
    return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
  };
  *minSize = clamp(limits.minimum);
  *maxSize = clamp(limits.maximum);
  *preferredSize = clamp(size);
  *granularity = 0;
  return ASE_OK;
}

ASIOError AsioDriver::canSampleRate(ASIOSampleRate rate) { return rateListed(rate) ? ASE_OK : ASE_NoClock; }

ASIOError AsioDriver::getSampleRate(ASIOSampleRate* rate) {
  if (rate == nullptr) return ASE_InvalidParameter;
  *rate = currentSettings().sampleRates.currentRate;
  return ASE_OK;
}

ASIOError AsioDriver::setSampleRate(ASIOSampleRate rate) {
  readSettings();
  if (!rateListed(rate)) return ASE_NoClock;
  const uint32_t previous = currentSettings().sampleRates.currentRate;
  if (client_.setSampleRate(static_cast<uint32_t>(rate), ORVANE_SERVICE_TIMEOUT_MS) != 0) return ASE_HWMalfunction;
  readSettings();
  buildChannelSets();
  if (callbacks_ != nullptr && currentSettings().sampleRates.currentRate != previous) {
    hostMessage(kAsioResetRequest, 0);
  }
  return ASE_OK;
}

ASIOError AsioDriver::getClockSources(ASIOClockSource* clocks, int32_t* numSources) {
  if (currentSet().empty()) return ASE_NotPresent;
  if (clocks == nullptr || numSources == nullptr || *numSources <= 0) return ASE_InvalidParameter;
  clocks[0] = ASIOClockSource{0, -1, -1, ASIOTrue, {}};
  copyText(clocks[0].name, "Computer", sizeof clocks[0].name);
  *numSources = 1;
  return ASE_OK;
}

ASIOError AsioDriver::setClockSource(int32_t reference) {
  if (currentSet().empty()) return ASE_NotPresent;
  return reference == 0 ? ASE_OK : ASE_InvalidParameter;
}

ASIOError AsioDriver::getChannelInfo(ASIOChannelInfo* info) {
  if (info == nullptr) return ASE_InvalidParameter;
  const AsioChannel* channel = currentSet().find(info->isInput != ASIOFalse, info->channel);
  if (channel == nullptr) return ASE_NotPresent;
  info->type = channel->isDsd() ? ASIOSTDSDInt8MSB1 : ASIOSTInt32LSB;
  info->channelGroup = 0;
  info->isActive = channel->buffer != nullptr ? ASIOTrue : ASIOFalse;
  copyText(info->name, channel->info.name, sizeof info->name);
  return ASE_OK;
}

ASIOError AsioDriver::controlPanel() {
  const std::u16string path = asioModulePath();
  const size_t separator = path.find_last_of(u"/\\");
  if (path.empty() || separator == std::u16string::npos) return ASE_NotPresent;
  const std::u16string directory = path.substr(0, separator + 1);
  return custom_->openControlPanel(asioModuleHandle(), directory.c_str());
}

ASIOError AsioDriver::future(int32_t selector, void* parameter) {
  switch (selector) {
    case kAsioEnableTimeCodeRead:
      timeCodeRead_ = true;
      return ASE_SUCCESS;
    case kAsioDisableTimeCodeRead:
      timeCodeRead_ = false;
      return ASE_SUCCESS;
    case kAsioCanTimeInfo:
      return ASE_SUCCESS;
    case kAsioSetIoFormat: {
      if (parameter == nullptr) return ASE_NotPresent;
      const ASIOIoFormatType format = static_cast<const ASIOIoFormat*>(parameter)->FormatType;
      if (format == kASIOPCMFormat) {
        dsdMode_ = false;
      } else if (format == kASIODSDFormat && offersDsd()) {
        dsdMode_ = true;
      } else {
        return ASE_NotPresent;
      }
      return switchIoFormat(dsdMode_);
    }
    case kAsioGetIoFormat:
      if (parameter == nullptr) return ASE_NotPresent;
      static_cast<ASIOIoFormat*>(parameter)->FormatType = dsdMode_ ? kASIODSDFormat : kASIOPCMFormat;
      return ASE_SUCCESS;
    case kAsioCanDoIoFormat: {
      if (parameter == nullptr) return ASE_NotPresent;
      const ASIOIoFormatType format = static_cast<const ASIOIoFormat*>(parameter)->FormatType;
      return format == kASIOPCMFormat || (format == kASIODSDFormat && offersDsd()) ? ASE_SUCCESS : ASE_NotPresent;
    }
    default:
      return ASE_NotPresent;
  }
}

ASIOError AsioDriver::switchIoFormat(bool dsd) {
  if (setSampleRate(dsd ? dsdTargetRate() : pcmTargetRate()) != ASE_OK) return ASE_HWMalfunction;
  return client_.setDsdMode(dsd) == 0 ? ASE_SUCCESS : ASE_HWMalfunction;
}

ASIOError AsioDriver::outputReady() { return ASE_NotPresent; }
