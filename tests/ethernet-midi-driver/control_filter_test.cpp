// The control filter: its properties and control-change event through the
// device interface, as a user program sends them, and its handlers' size
// checks and basic-support answers on their own.

#include <cstring>

#include "ethernet-midi-driver/topology_miniport.h"
#include "platform/kernel/wdm/kernel_streaming.h"
#include "tests/ethernet-midi-driver/mirelo_test_support.h"

namespace mirelo_testing {
namespace {

using namespace platform;
using namespace platform::wdm;

class ControlFilterTest : public MireloTest {
 protected:
  void SetUp() override {
    MireloTest::SetUp();
    start(4);
    filter = openDevice(found.controlFilter);
    ASSERT_NE(filter, kInvalidHandle);
    changed = createEvent(false, false);
  }
  void TearDown() override {
    closeHandle(filter);
    closeHandle(changed);
    MireloTest::TearDown();
  }

  uint32_t enable(uint32_t node = 0, uint32_t id = KSEVENT_CONTROL_CHANGE, uint32_t type = KSEVENTF_EVENT_HANDLE) {
    KSE_NODE request{};
    request.event = {KSEVENTSETID_AudioControlChange, id, KSEVENT_TYPE_ENABLE | KSEVENT_TYPE_TOPOLOGY};
    request.nodeId = node;
    return ksEnableEvent(filter, &request, sizeof request, eventData(type));
  }
  KSEVENTDATA eventData(uint32_t type = KSEVENTF_EVENT_HANDLE) {
    KSEVENTDATA data{};
    data.notificationType = type;
    data.eventHandle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(changed));
    return data;
  }
  bool signalled(uint32_t ms = 2000) { return waitForSingle(changed, ms) == WAIT_OBJECT_0; }

  // A get of the audio property `id` on `node` with a value buffer of `valueSize`.
  uint32_t get(uint32_t id, uint32_t valueSize, void* value, uint32_t* returned, uint32_t node = 0,
               uint32_t requestSize = sizeof(KSNODEPROPERTY_AUDIO_CHANNEL), uint32_t flags = KSPROPERTY_TYPE_GET) {
    const KSNODEPROPERTY_AUDIO_CHANNEL request = audioNodeProperty(id, flags, node);
    return ksGetProperty(filter, &request, requestSize, value, valueSize, returned);
  }

  Handle filter = nullptr;
  Handle changed = nullptr;
};

TEST_F(ControlFilterTest, MuteMaskOfPortsOneAndThree) {
  ASSERT_EQ(control.setMuteMask(0b101), 0u);
  EXPECT_EQ(muteMask(), 5u);
}

TEST_F(ControlFilterTest, MuteMaskBitsBeyondTwentyAreIgnoredAndReadAsZero) {
  ASSERT_EQ(control.setMuteMask(0xFFF00003), 0u);
  EXPECT_EQ(muteMask(), 3u);
}

TEST_F(ControlFilterTest, UnmutingAllClearsProblemsAndSignalsTheEventOnce) {
  ASSERT_EQ(enable(), 0u);
  ASSERT_EQ(control.setMuteMask(0), 0u);
  EXPECT_TRUE(signalled());
  EXPECT_FALSE(signalled(200));
  EXPECT_EQ(muteMask(), 0u);
  EXPECT_EQ(statusWord(), 0x80000000u);
}

TEST_F(ControlFilterTest, LoopBackSwitchIsTheStatusWordsTopBit) {
  ASSERT_EQ(enable(), 0u);
  ASSERT_EQ(control.setLoopback(false), 0u);
  EXPECT_TRUE(signalled());
  EXPECT_EQ(statusWord(), 0u);
  ASSERT_EQ(control.setLoopback(true), 0u);
  EXPECT_EQ(statusWord(), 0x80000000u);
}

TEST_F(ControlFilterTest, ProcessorResourcesReadAsHostProcessorAndCannotBeSet) {
  uint32_t value = 0;
  uint32_t returned = 0;
  ASSERT_EQ(get(KSPROPERTY_AUDIO_CPU_RESOURCES, 4, &value, &returned), 0u);
  EXPECT_EQ(value, 0x7FFFFFFFu);
  const KSNODEPROPERTY_AUDIO_CHANNEL set = audioNodeProperty(KSPROPERTY_AUDIO_CPU_RESOURCES, KSPROPERTY_TYPE_SET, 0);
  EXPECT_EQ(ksSetProperty(filter, &set, sizeof set, &value, sizeof value), ERROR_INVALID_FUNCTION);
}

struct SizeCase {
  const char* name;
  uint32_t valueSize;
  uint32_t requestSize;
  uint32_t error;
  friend void PrintTo(const SizeCase& c, std::ostream* out) { *out << c.name; }
};

class PropertySizeTest : public ControlFilterTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(PropertySizeTest, GetOfTheMuteMaskChecksItsSizes) {
  uint8_t value[16] = {};
  uint32_t returned = 99;
  EXPECT_EQ(get(KSPROPERTY_AUDIO_MUTE, GetParam().valueSize, value, &returned, 0, GetParam().requestSize),
            GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PropertySizeTest,
    ::testing::Values(
        SizeCase{"Exact", 4, sizeof(KSNODEPROPERTY_AUDIO_CHANNEL), 0},
        // A size query: STATUS_BUFFER_OVERFLOW, which the caller sees as "more data".
        SizeCase{"SizeQuery", 0, sizeof(KSNODEPROPERTY_AUDIO_CHANNEL), ERROR_MORE_DATA},
        SizeCase{"Larger", 8, sizeof(KSNODEPROPERTY_AUDIO_CHANNEL), ERROR_GEN_FAILURE},
        SizeCase{"Smaller", 2, sizeof(KSNODEPROPERTY_AUDIO_CHANNEL), ERROR_INSUFFICIENT_BUFFER},
        SizeCase{"NoInstance", 4, sizeof(KSNODEPROPERTY), ERROR_INSUFFICIENT_BUFFER},
        SizeCase{"ShortInstance", 4, sizeof(KSNODEPROPERTY) + 2, ERROR_INSUFFICIENT_BUFFER},
        SizeCase{"NoNode", 4, sizeof(KSPROPERTY) + 4, ERROR_INSUFFICIENT_BUFFER},
        SizeCase{"NoProperty", 4, 12, ERROR_INSUFFICIENT_BUFFER}),
    [](const auto& test) { return std::string(test.param.name); });

struct RequestCase {
  const char* name;
  uint32_t id;
  uint32_t node;
  uint32_t flags;
  uint32_t error;
  friend void PrintTo(const RequestCase& c, std::ostream* out) { *out << c.name; }
};

class PropertyRequestTest : public ControlFilterTest, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(PropertyRequestTest, IsAnsweredOrRefused) {
  uint32_t value = 0;
  uint32_t returned = 0;
  EXPECT_EQ(get(GetParam().id, 4, &value, &returned, GetParam().node, sizeof(KSNODEPROPERTY_AUDIO_CHANNEL),
                GetParam().flags),
            GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, PropertyRequestTest,
    ::testing::Values(RequestCase{"StatusWord", KSPROPERTY_AUDIO_DEV_SPECIFIC, 0, KSPROPERTY_TYPE_GET, 0},
                      RequestCase{"WrongNode", KSPROPERTY_AUDIO_MUTE, 1, KSPROPERTY_TYPE_GET, ERROR_INVALID_PARAMETER},
                      RequestCase{"UnknownId", 99, 0, KSPROPERTY_TYPE_GET, 0xC0000225},
                      RequestCase{"VolumeIsNotOffered", 2, 0, KSPROPERTY_TYPE_GET, 0xC0000225},
                      // Neither get nor set: the handler answers with no effect.
                      RequestCase{"NeitherVerb", KSPROPERTY_AUDIO_MUTE, 0, 0, 0}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(ControlFilterTest, FilterLevelAudioPropertiesAreNotOffered) {
  KSNODEPROPERTY_AUDIO_CHANNEL request = audioNodeProperty(KSPROPERTY_AUDIO_MUTE, KSPROPERTY_TYPE_GET, 0);
  request.nodeProperty.property.flags = KSPROPERTY_TYPE_GET;  // no topology bit
  uint32_t value = 0;
  EXPECT_EQ(ksGetProperty(filter, &request, sizeof request, &value, 4), 0xC0000225u);
}

TEST_F(ControlFilterTest, BasicSupportDescribesTheMuteProperty) {
  KSPROPERTY_DESCRIPTION description{};
  uint32_t returned = 0;
  ASSERT_EQ(get(KSPROPERTY_AUDIO_MUTE, sizeof description, &description, &returned, 0,
                sizeof(KSNODEPROPERTY_AUDIO_CHANNEL), KSPROPERTY_TYPE_BASICSUPPORT),
            0u);
  EXPECT_EQ(returned, 40u);
  EXPECT_EQ(description.accessFlags, 0x203u);
  EXPECT_EQ(description.descriptionSize, 40u);
  EXPECT_EQ(description.propTypeSet.set, KSPROPTYPESETID_General);
  EXPECT_EQ(description.propTypeSet.id, VT_UINT);
  uint32_t flags = 0;
  ASSERT_EQ(get(KSPROPERTY_AUDIO_MUTE, 4, &flags, &returned, 0, sizeof(KSNODEPROPERTY_AUDIO_CHANNEL),
                KSPROPERTY_TYPE_BASICSUPPORT),
            0u);
  EXPECT_EQ(flags, 0x203u);
  EXPECT_EQ(returned, 4u);
}

TEST_F(ControlFilterTest, BasicSupportOfProcessorResourcesGivesItsAccessFlagsOnly) {
  KSPROPERTY_DESCRIPTION description{};
  uint32_t returned = 0;
  ASSERT_EQ(get(KSPROPERTY_AUDIO_CPU_RESOURCES, sizeof description, &description, &returned, 0,
                sizeof(KSNODEPROPERTY_AUDIO_CHANNEL), KSPROPERTY_TYPE_BASICSUPPORT),
            0u);
  EXPECT_EQ(returned, 4u);
  EXPECT_EQ(description.accessFlags, 0x201u);
}

TEST_F(ControlFilterTest, EventRequestsOnTheWrongNodeOrItemOrWithBadDataAreRefused) {
  EXPECT_EQ(enable(1), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(enable(0, 5), 0xC0000225u);
  EXPECT_EQ(enable(0, KSEVENT_CONTROL_CHANGE, 2), ERROR_INVALID_PARAMETER);
  KSE_NODE request{};
  request.event = {KSEVENTSETID_AudioControlChange, KSEVENT_CONTROL_CHANGE, KSEVENT_TYPE_ENABLE | KSEVENT_TYPE_TOPOLOGY};
  KSEVENTDATA unknownHandle = eventData();
  unknownHandle.eventHandle = 0x7FFC;
  EXPECT_EQ(ksEnableEvent(filter, &request, sizeof request, unknownHandle), ERROR_INVALID_HANDLE);
  // A topology event needs its node: 24 bytes are too few.
  uint32_t returned = 0;
  EXPECT_FALSE(deviceIoControl(filter, IOCTL_KS_ENABLE_EVENT, &request, 24, nullptr, 0, &returned, nullptr));
  EXPECT_EQ(lastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(ControlFilterTest, DisabledEventsAreNotSignalledAgain) {
  ASSERT_EQ(enable(), 0u);
  const KSEVENTDATA data = eventData();
  ASSERT_EQ(ksDisableEvent(filter, &data), 0u);
  EXPECT_EQ(ksDisableEvent(filter, &data), ERROR_GEN_FAILURE);
  ASSERT_EQ(control.setMuteMask(1), 0u);
  EXPECT_FALSE(signalled(200));
}

TEST_F(ControlFilterTest, EveryEnabledClientIsSignalled) {
  ASSERT_EQ(enable(), 0u);
  mirelo_tools::ControlFilter second;
  ASSERT_EQ(second.open(found.controlFilter), 0u);
  Handle other = createEvent(false, false);
  ASSERT_EQ(second.enableControlChange(other), 0u);
  ASSERT_EQ(second.setLoopback(false), 0u);
  EXPECT_TRUE(signalled());
  EXPECT_EQ(waitForSingle(other, 2000), WAIT_OBJECT_0);
  closeHandle(other);
}

TEST_F(ControlFilterTest, ClosingTheFilterEndsItsEvents) {
  ASSERT_EQ(enable(), 0u);
  closeHandle(filter);
  filter = openDevice(found.controlFilter);
  ASSERT_EQ(control.setMuteMask(3), 0u);
  EXPECT_FALSE(signalled(200));
}

TEST_F(ControlFilterTest, PinFactoriesOfAPortAndOfTheControlFilter) {
  auto pinValue = [](Handle device, uint32_t id, uint32_t pin) {
    KSP_PIN request{};
    request.property = {KSPROPSETID_Pin, id, KSPROPERTY_TYPE_GET};
    request.pinId = pin;
    uint32_t value = 0xEEEE;
    EXPECT_EQ(ksGetProperty(device, &request, sizeof request, &value, sizeof value), 0u);
    return value;
  };
  Handle port = openDevice(found.ports.at(1));
  ASSERT_NE(port, kInvalidHandle);
  EXPECT_EQ(pinValue(port, KSPROPERTY_PIN_CTYPES, 0), 4u);
  EXPECT_EQ(pinValue(port, KSPROPERTY_PIN_DATAFLOW, 0), static_cast<uint32_t>(KSPIN_DATAFLOW_OUT));
  EXPECT_EQ(pinValue(port, KSPROPERTY_PIN_DATAFLOW, 2), static_cast<uint32_t>(KSPIN_DATAFLOW_IN));
  EXPECT_EQ(pinValue(port, KSPROPERTY_PIN_COMMUNICATION, 1), static_cast<uint32_t>(KSPIN_COMMUNICATION_NONE));
  EXPECT_EQ(pinValue(filter, KSPROPERTY_PIN_CTYPES, 0), 2u);
  closeHandle(port);
}

TEST_F(ControlFilterTest, TheControlFilterHasNoPinsToCreate) {
  uint32_t error = 0;
  EXPECT_EQ(KsMidiPin::create(found.controlFilter, 0, &error), nullptr);
  EXPECT_EQ(error, ERROR_INVALID_FUNCTION);
}

// ---------------------------------------------------------------- the handlers on their own

struct ValidationCase {
  const char* name;
  uint32_t needed;
  uint32_t instanceNeeded;
  uint32_t valueSize;
  uint32_t instanceSize;
  bool withValue;
  NtStatus status;
  uint32_t valueSizeAfter;
  friend void PrintTo(const ValidationCase& c, std::ostream* out) { *out << c.name; }
};

class ValidationTest : public ::testing::TestWithParam<ValidationCase> {};

TEST_P(ValidationTest, AnswersAsTheRulesSay) {
  const ValidationCase& c = GetParam();
  uint8_t value[8] = {};
  PCPROPERTY_REQUEST request{};
  request.valueSize = c.valueSize;
  request.value = c.withValue ? value : nullptr;
  request.instanceSize = c.instanceSize;
  EXPECT_EQ(mirelo::ValidatePropertyRequest(&request, c.needed, c.instanceNeeded), c.status);
  EXPECT_EQ(request.valueSize, c.valueSizeAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ValidationTest,
    ::testing::Values(ValidationCase{"Valid", 4, 4, 4, 8, true, STATUS_SUCCESS, 4},
                      ValidationCase{"NothingNeeded", 0, 0, 4, 8, true, STATUS_UNSUCCESSFUL, 0},
                      ValidationCase{"SizeQuery", 4, 4, 0, 8, true, STATUS_BUFFER_OVERFLOW, 4},
                      ValidationCase{"ValueTooSmall", 4, 4, 2, 8, true, STATUS_BUFFER_TOO_SMALL, 0},
                      ValidationCase{"InstanceTooSmall", 4, 4, 4, 3, true, STATUS_BUFFER_TOO_SMALL, 0},
                      ValidationCase{"ValueTooLarge", 4, 4, 8, 8, true, STATUS_UNSUCCESSFUL, 0},
                      ValidationCase{"NoValueBuffer", 4, 4, 4, 8, false, STATUS_UNSUCCESSFUL, 0}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ValidationRules, NoRequestIsUnsuccessful) {
  EXPECT_EQ(mirelo::ValidatePropertyRequest(nullptr, 4, 4), STATUS_UNSUCCESSFUL);
}

struct BasicSupportCase {
  const char* name;
  uint32_t valueSize;
  uint32_t valueType;
  NtStatus status;
  uint32_t valueSizeAfter;
  friend void PrintTo(const BasicSupportCase& c, std::ostream* out) { *out << c.name; }
};

class BasicSupportTest : public ::testing::TestWithParam<BasicSupportCase> {};

TEST_P(BasicSupportTest, AnswersForTheBufferGiven) {
  const BasicSupportCase& c = GetParam();
  uint8_t value[64] = {};
  PCPROPERTY_REQUEST request{};
  request.valueSize = c.valueSize;
  request.value = value;
  EXPECT_EQ(mirelo::BasicSupport(&request, 0x203, c.valueType), c.status);
  EXPECT_EQ(request.valueSize, c.valueSizeAfter);
  if (c.status == STATUS_SUCCESS) {
    uint32_t flags;
    std::memcpy(&flags, value, 4);
    EXPECT_EQ(flags, 0x203u);
  }
}

INSTANTIATE_TEST_SUITE_P(Buffers, BasicSupportTest,
                         ::testing::Values(BasicSupportCase{"Description", 40, VT_UINT, STATUS_SUCCESS, 40},
                                           BasicSupportCase{"LargerBuffer", 64, VT_UINT, STATUS_SUCCESS, 40},
                                           BasicSupportCase{"FlagsOnlyType", 40, 0xFFFF, STATUS_SUCCESS, 4},
                                           BasicSupportCase{"FlagsOnlyBuffer", 4, VT_UINT, STATUS_SUCCESS, 4},
                                           BasicSupportCase{"SizeQuery", 0, VT_UINT, STATUS_BUFFER_OVERFLOW, 40},
                                           BasicSupportCase{"TooSmall", 2, VT_UINT, STATUS_BUFFER_TOO_SMALL, 0}),
                         [](const auto& test) { return std::string(test.param.name); });

struct EventCase {
  const char* name;
  uint32_t node;
  uint32_t verb;
  bool withEntry;
  NtStatus status;
  friend void PrintTo(const EventCase& c, std::ostream* out) { *out << c.name; }
};

class EventHandlerTest : public ::testing::TestWithParam<EventCase> {};

TEST_P(EventHandlerTest, AnswersTheVerb) {
  const EventCase& c = GetParam();
  KSEVENT_ENTRY entry;
  PCEVENT_REQUEST request{};
  request.node = c.node;
  request.verb = c.verb;
  request.eventEntry = c.withEntry ? &entry : nullptr;
  // Without port events the miniport lists nothing; the target is still needed for an add.
  auto* miniport = new (NonPagedPool, mirelo::kObjectTag) mirelo::TopologyMiniport(nullptr);
  miniport->AddRef();
  request.majorTarget = static_cast<IMiniportTopology*>(miniport);
  EXPECT_EQ(mirelo::TopologyMiniport::EventHandler(&request), c.status);
  miniport->Release();
}

INSTANTIATE_TEST_SUITE_P(Verbs, EventHandlerTest,
                         ::testing::Values(EventCase{"Add", 0, PCEVENT_VERB_ADD, true, STATUS_SUCCESS},
                                           EventCase{"AddWithoutEntry", 0, PCEVENT_VERB_ADD, false, STATUS_UNSUCCESSFUL},
                                           EventCase{"Remove", 0, PCEVENT_VERB_REMOVE, true, STATUS_SUCCESS},
                                           EventCase{"Support", 0, PCEVENT_VERB_SUPPORT, false, STATUS_SUCCESS},
                                           EventCase{"OtherVerb", 0, 8, true, STATUS_INVALID_PARAMETER},
                                           EventCase{"NodeOne", 1, PCEVENT_VERB_ADD, true, STATUS_INVALID_PARAMETER}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace mirelo_testing
