// The adapter object on its own: the flags behind the control filter, the
// port connect callback it calls, and its interfaces.

#include <gtest/gtest.h>

#include <vector>

#include "ethernet-midi-driver/ethernet_midi_adapter.h"

namespace mirelo {
namespace {

// Counts the control-change events the adapter raises.
class RecordingPortEvents final : public IPortEvents {
 public:
  NtStatus QueryInterface(const platform::Guid&, void**) override { return STATUS_INVALID_PARAMETER; }
  uint32_t AddRef() override { return ++references; }
  uint32_t Release() override { return --references; }
  void AddEventToEventList(KSEVENT_ENTRY*) override {}
  void GenerateEventList(const platform::Guid* set, uint32_t eventId, bool pinEvent, uint32_t pinId, bool nodeEvent,
                         uint32_t nodeId) override {
    ++events;
    EXPECT_EQ(set, nullptr);
    EXPECT_EQ(eventId, 0u);
    EXPECT_FALSE(pinEvent);
    EXPECT_EQ(pinId, 0xFFFFFFFFu);
    EXPECT_TRUE(nodeEvent);
    EXPECT_EQ(nodeId, 0u);
  }
  uint32_t references = 1;
  int events = 0;
};

struct Callback {
  uint32_t index;
  bool connect;
  bool operator==(const Callback&) const = default;
};
std::vector<Callback> callbacks;
NtStatus callbackResult = STATUS_SUCCESS;

NtStatus recordCallback(uint32_t index, bool connect) {
  callbacks.push_back({index, connect});
  return callbackResult;
}

class AdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    callbacks.clear();
    callbackResult = STATUS_SUCCESS;
    adapter = new (NonPagedPool, kObjectTag) EthernetMidiAdapter(nullptr);
    ASSERT_NE(adapter, nullptr);
    primary()->AddRef();
    ASSERT_EQ(adapter->Init(nullptr), STATUS_SUCCESS);
    adapter->SetPortEvents(&events);
    adapter->SetPortCallback(&recordCallback);
  }
  void TearDown() override {
    primary()->Release();
    EXPECT_EQ(events.references, 1u);  // the adapter let go of its reference
  }
  IEthernetMidiAdapter* primary() { return static_cast<IEthernetMidiAdapter*>(adapter); }

  EthernetMidiAdapter* adapter = nullptr;
  RecordingPortEvents events;
};

TEST_F(AdapterTest, InitMutesEveryPortWithoutProblemAndLoopBackOn) {
  EXPECT_EQ(adapter->GetMuteMask(), 0xFFFFFu);
  EXPECT_EQ(adapter->GetStatusWord(), 0x80000000u);
  EXPECT_EQ(adapter->GetLoopback(), 1u);
  EXPECT_EQ(adapter->powerState(), PowerDeviceD0);
}

TEST_F(AdapterTest, SetMuteMaskConnectsTheInstalledPortsItUnmutes) {
  adapter->SetPortCount(3);
  adapter->SetMuteMask(0b101);
  EXPECT_EQ(callbacks, (std::vector<Callback>{{0, false}, {1, true}, {2, false}}));
  EXPECT_EQ(adapter->GetMuteMask(), 0b101u);
  EXPECT_EQ(adapter->IsMuted(2), 0b100u);  // the masked bit, not 1
  EXPECT_EQ(events.events, 1);
}

TEST_F(AdapterTest, SetMuteMaskZeroClearsEveryProblemAlsoBeyondThePortCount) {
  adapter->SetPortCount(2);
  adapter->SetProblem(1, 1);
  adapter->SetProblem(15, 1);
  EXPECT_EQ(adapter->GetStatusWord(), 0x80008002u);
  adapter->SetMuteMask(0);
  EXPECT_EQ(adapter->GetStatusWord(), 0x80000000u);
  EXPECT_EQ(adapter->GetMuteMask(), 0u);
}

TEST_F(AdapterTest, AProblemMutesThePortAndRaisesTheEvent) {
  adapter->SetPortCount(4);
  adapter->SetMuteMask(0);
  events.events = 0;
  adapter->SetProblem(2, 1);
  EXPECT_EQ(adapter->GetStatusWord(), 0x80000004u);
  EXPECT_EQ(adapter->GetMuteMask(), 0b100u);
  EXPECT_EQ(events.events, 1);
  adapter->SetProblem(2, 0);
  EXPECT_EQ(adapter->GetStatusWord(), 0x80000000u);
  EXPECT_EQ(adapter->GetMuteMask(), 0b100u);  // clearing the problem does not unmute
}

TEST_F(AdapterTest, UnmutingOnePortClearsItsProblemAndConnectsIt) {
  adapter->SetPortCount(2);
  adapter->SetProblem(1, 1);
  callbacks.clear();
  adapter->SetMute(1, 0);
  EXPECT_EQ(callbacks, (std::vector<Callback>{{1, true}}));
  EXPECT_EQ(adapter->GetProblem(1), 0u);
  EXPECT_EQ(adapter->IsMuted(1), 0u);
}

TEST_F(AdapterTest, AFailingCallbackLeavesThePortMutedWithAProblem) {
  callbackResult = STATUS_UNSUCCESSFUL;
  adapter->SetMute(0, 0);
  EXPECT_EQ(adapter->IsMuted(0), 1u);
  EXPECT_EQ(adapter->GetProblem(0), 1u);
}

TEST_F(AdapterTest, LoopBackKeepsAnyNonzeroValueAndLeavesProblemsAlone) {
  adapter->SetProblem(0, 1);
  adapter->SetLoopback(0);
  EXPECT_EQ(adapter->GetStatusWord(), 0x00000001u);
  adapter->SetLoopback(7);
  EXPECT_EQ(adapter->GetLoopback(), 7u);
  EXPECT_EQ(adapter->GetStatusWord(), 0x80000001u);
}

TEST_F(AdapterTest, IndexesBeyondTheTablesAreIgnored) {
  adapter->SetProblem(20, 1);
  adapter->SetMute(25, 0);
  EXPECT_EQ(adapter->IsMuted(20), 1u);
  EXPECT_EQ(adapter->GetProblem(29), 0u);
  EXPECT_EQ(adapter->GetStatusWord(), 0x80000000u);
  EXPECT_TRUE(callbacks.empty());
}

TEST_F(AdapterTest, PortCountIsLimitedToTheTables) {
  adapter->SetPortCount(30);
  adapter->SetMuteMask(0);
  EXPECT_EQ(callbacks.size(), kMaxPorts);
}

TEST_F(AdapterTest, PowerStateChangesOnlyToAValidState) {
  adapter->PowerChangeState(PowerState{PowerDeviceD3});
  EXPECT_EQ(adapter->powerState(), PowerDeviceD3);
  adapter->PowerChangeState(PowerState{static_cast<DevicePowerState>(5)});
  adapter->PowerChangeState(PowerState{PowerDeviceUnspecified});
  EXPECT_EQ(adapter->powerState(), PowerDeviceD3);
  EXPECT_EQ(adapter->QueryPowerChangeState(PowerState{PowerDeviceD1}), STATUS_SUCCESS);
}

TEST_F(AdapterTest, QueryInterfaceAnswersItsThreeIdentifiersOnly) {
  void* object = nullptr;
  ASSERT_EQ(primary()->QueryInterface(IID_IEthernetMidiAdapter, &object), STATUS_SUCCESS);
  EXPECT_EQ(object, primary());
  static_cast<IUnknown*>(object)->Release();
  ASSERT_EQ(primary()->QueryInterface(IID_IAdapterPowerManagement, &object), STATUS_SUCCESS);
  EXPECT_EQ(object, static_cast<IAdapterPowerManagement*>(adapter));
  static_cast<IUnknown*>(object)->Release();
  ASSERT_EQ(primary()->QueryInterface(IID_IUnknown, &object), STATUS_SUCCESS);
  static_cast<IUnknown*>(object)->Release();
  EXPECT_EQ(primary()->QueryInterface(IID_IPortMidi, &object), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(object, nullptr);
}

}  // namespace
}  // namespace mirelo
