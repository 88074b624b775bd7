#pragma once
// The service's device controller: on attach it sets up the device's
// loopback path, names the hardware channels and defines the WDM sound
// devices (from the playback and recording layouts stored under the device's
// serial number); it rebuilds the sound devices when the layout changes
// (request 11001), switches the device's port state around transitions to and
// from Running, and keeps playback volumes and mixer output levels in step.

#include <cstdint>
#include <string>

#include "device-access/orvane_service_records.h"
#include "device-access/wn_waitable_timer.h"
#include "platform/registry.h"
#include "service/orvane_device_ctrl.h"

class OrvaneServer;

class CustomDevice : public OrvaneDeviceCtrl {
 public:
  // `server` gives the registry root of the settings.
  explicit CustomDevice(OrvaneServer& server);
  ~CustomDevice() override;

  uint32_t onOpened() override;
  uint32_t beforeTransition(uint32_t from, uint32_t to, uint32_t rate) override;
  void onMixerOutputsChanged() override;
  void onRenderVolumeChanged(uint32_t soundDeviceIndex) override;

  // Stores a new layout, saves it and sends the sound devices again.
  // ORVANE_STATUS_INVALID_PARAMETER, nothing changed, for a playback layout
  // above 5 or a recording layout above 2.
  uint32_t applyConfiguration(uint32_t playback, uint32_t recording);

  uint32_t playbackConfiguration() const { return playbackConfiguration_; }
  uint32_t recordingConfiguration() const { return recordingConfiguration_; }
  const ORVANE_SOUND_DEVICE_TABLE& soundDeviceTable() const { return soundDevices_; }

  // The tables the device controller sends: the channel names (with the DSD
  // channels of each direction when the device has any) and the sound devices
  // of two layouts.
  static void buildChannelNames(bool outputsDsd, bool inputsDsd, ORVANE_CHANNEL_NAME_TABLE& table);
  static void buildSoundDevices(uint32_t playbackConfiguration, uint32_t recordingConfiguration,
                                ORVANE_SOUND_DEVICE_TABLE& table);

  // Gain in hundredths of a dB to volume in 1/65536 dB, and back (limited to ±90 dB).
  static int32_t toVolume(int16_t gain);
  static int16_t toGain(int32_t volume);

  uint32_t loadSettings();
  uint32_t saveSettings();
  uint32_t sendDeviceSetup();
  bool supportsDsd();
  uint32_t sendChannelNames();
  uint32_t sendSoundDevices();
  void onTimer(uint32_t lowValue, uint32_t highValue);

 private:
  // The settings key: <root>\Devices\<serial number>, created when missing.
  uint32_t openSettingsKey(platform::RegistryKey& key);
  // The mixer gain entries of one playback sound device: two per channel pair.
  static uint32_t gainEntries(const ORVANE_SOUND_DEVICE& soundDevice, ORVANE_MIXER_GAIN (&entries)[16]);

  OrvaneServer& server_;
  uint32_t playbackConfiguration_ = 0;
  uint32_t recordingConfiguration_ = 0;
  ORVANE_SOUND_DEVICE_TABLE soundDevices_{};
  WnWaitableTimer timer_;
  WnWaitableTimerCallbackForwarderT<CustomDevice> timerForwarder_;
};
