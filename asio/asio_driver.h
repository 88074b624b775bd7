#pragma once
// The ASIO driver object: what an ASIO host creates through COM and calls
// through IASIO. It follows the streaming device, rates and buffer size that
// the kernel driver offers (the control panel and the service choose them),
// and exchanges audio with the kernel driver through buffers both reach: the
// kernel driver writes the index of the buffer half the host is to process
// into a shared block and signals the buffer event; the buffer thread calls
// the host's buffer switch and acknowledges.
//
// States: Loaded → init → Initialised → createBuffers → Prepared → start →
// Running → stop → Prepared → disposeBuffers → Initialised.

#include <cstdint>
#include <memory>

#include "asio/asio_channel.h"
#include "asio/asio_custom.h"
#include "asio/c_unknown.h"
#include "asio/orvane_asio_client.h"
#include "device-access/orvane_asio_records.h"
#include "device-access/wn_event.h"
#include "device-access/wn_thread.h"
#include "platform/asio/asio_interface.h"
#include "platform/critical_section.h"

// The driver's class identifier, also the identifier of its IASIO interface.
inline constexpr platform::CLSID CLSID_SorvikUsbAsio{
    0xF8DA6A5E, 0xE27D, 0x473D, {0xAB, 0xD5, 0x4A, 0xBC, 0x76, 0xB2, 0x1C, 0xEF}};

enum class AsioDriverState : uint32_t { Loaded = 0, Initialised = 1, Prepared = 2, Running = 3 };

inline constexpr char16_t kNoDeviceText[] = u"No device is connected to the PC.";
inline constexpr uint32_t kAsioDriverVersion = 291;
inline constexpr size_t kAsioErrorTextChars = 128;

// What the host said it supports, asked in createBuffers.
struct AsioHostAbilities {
  bool timeInfo = false;
  bool resetRequest = false;
  bool bufferSizeChange = false;
  bool resync = false;
  bool latenciesChanged = false;
  int32_t engineVersion = -1;  // -1 when the host does not answer that query
};

// The buffer sizes getBufferSize offers around the preferred `size`: the
// largest of 64 ... 65536 below it and the smallest of 32 ... 65536 above it
// (the size itself where there is none).
struct AsioBufferSizeLimits {
  int64_t minimum;
  int64_t maximum;
};
AsioBufferSizeLimits asioBufferSizeLimits(int64_t size);

class AsioDriver : public IASIO, public CUnknown {
 public:
  explicit AsioDriver(platform::IUnknown* outer);
  // With another product's customisation (null: the product's own).
  AsioDriver(platform::IUnknown* outer, std::unique_ptr<AsioCustom> custom);
  ~AsioDriver() override;

  // The factory's creation function.
  static CUnknown* create(platform::IUnknown* outer);

  // IUnknown of IASIO: forwarded to the controlling object.
  platform::HRESULT QueryInterface(const platform::IID& iid, void** object) override;
  uint32_t AddRef() override;
  uint32_t Release() override;
  // Adds IASIO under the class identifier.
  platform::HRESULT NonDelegatingQueryInterface(const platform::IID& iid, void** object) override;

  // IASIO.
  ASIOBool init(void* systemHandle) override;
  void getDriverName(char* name) override;
  int32_t getDriverVersion() override;
  void getErrorMessage(char* text) override;
  ASIOError start() override;
  ASIOError stop() override;
  ASIOError getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) override;
  ASIOError getLatencies(int32_t* inputLatency, int32_t* outputLatency) override;
  ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize, int32_t* granularity) override;
  ASIOError canSampleRate(ASIOSampleRate rate) override;
  ASIOError getSampleRate(ASIOSampleRate* rate) override;
  ASIOError setSampleRate(ASIOSampleRate rate) override;
  ASIOError getClockSources(ASIOClockSource* clocks, int32_t* numSources) override;
  ASIOError setClockSource(int32_t reference) override;
  ASIOError getSamplePosition(ASIOSamples* position, ASIOTimeStamp* timeStamp) override;
  ASIOError getChannelInfo(ASIOChannelInfo* info) override;
  ASIOError createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                          ASIOCallbacks* callbacks) override;
  ASIOError disposeBuffers() override;
  ASIOError controlPanel() override;
  ASIOError future(int32_t selector, void* parameter) override;
  ASIOError outputReady() override;

  // Reads the kernel driver's channel lists into the PCM and DSD sets; keeps
  // the sets when they already hold exactly the listed channels. 0 or the
  // status of the failed list read (the client is then closed).
  uint32_t buildChannelSets();

  // A copy of the settings as last read (the buffer thread re-reads them).
  ORVANE_ASIO_SETTINGS currentSettings() const;
  AsioDriverState state() const { return state_; }
  bool dsdMode() const { return dsdMode_; }
  const AsioHostAbilities& hostAbilities() const { return host_; }
  // The set of the current mode.
  const AsioChannelSet& currentSet() const { return dsdMode_ ? dsdSet_ : pcmSet_; }

 private:
  AsioChannelSet& currentSet() { return dsdMode_ ? dsdSet_ : pcmSet_; }
  void setErrorText(const char16_t* text);
  void readSettings();
  bool rateListed(ASIOSampleRate rate) const;
  bool offersDsd() const;
  // The rate a switch to DSD or PCM goes to.
  uint32_t dsdTargetRate() const;
  uint32_t pcmTargetRate() const;
  ASIOError switchIoFormat(bool dsd);
  void addDummyOutputs();

  // createBuffers for one host entry: buffer, acquisition, hand-over.
  ASIOError prepareChannel(ASIOBufferInfo& entry);
  void askHostAbilities();
  int32_t hostMessage(int32_t selector, int32_t value);
  void releaseBuffers();

  uint32_t runBufferThread();
  void fillSilence();
  void switchBuffers();
  void handleNotifications();

  OrvaneAsioClient client_;
  std::unique_ptr<AsioCustom> custom_;
  AsioDriverState state_ = AsioDriverState::Loaded;
  char16_t errorText_[kAsioErrorTextChars]{};
  mutable platform::CriticalSection settingsLock_;
  ORVANE_ASIO_SETTINGS settings_{};
  bool dsdMode_ = false;
  bool timeCodeRead_ = false;  // set and cleared by the host; nothing reads it
  WnEvent startedEvent_;
  WnEvent stopEvent_;

  // Streaming.
  WnThread bufferThread_;
  WnThreadCallbackForwarderT<AsioDriver> bufferThreadCallback_{this, &AsioDriver::runBufferThread};
  platform::CriticalSection timeLock_;
  WnEvent bufferEvent_;
  ORVANE_ASIO_SHARED_BLOCK* sharedBlock_ = nullptr;
  ASIOCallbacks* callbacks_ = nullptr;
  uint32_t bufferFrames_ = 0;     // per buffer half
  int32_t hostBufferSize_ = 0;    // as the host gave it to createBuffers
  uint64_t sampleCounter_ = 0;    // host samples since the buffer thread started
  uint64_t timeStamp_ = 0;        // nanoseconds, of the latest buffer switch
  ASIOTime timeInfo_{};
  AsioHostAbilities host_;
  bool timerPeriodActive_ = false;
  AsioChannelSet pcmSet_;
  AsioChannelSet dsdSet_;
  // Channels the kernel driver no longer lists whose buffers are still in use.
  std::vector<std::unique_ptr<AsioChannel>> retiredChannels_;
};
