// Port class pieces on their own: reference counting and aggregation of
// port-class objects, service groups, and the link names of subdevices.

#include <gtest/gtest.h>

#include <vector>

#include "platform/kernel/wdm/port_class.h"
#include "platform/kernel_streaming.h"

namespace platform::wdm {
namespace {

constexpr uint32_t kTag = poolTag("PcTs");

// An object that counts its service requests.
class CountingSink final : public IServiceSink, public CUnknown {
 public:
  explicit CountingSink(IUnknown* outer) : CUnknown(outer) {}
  PORTCLS_DELEGATING_UNKNOWN
  NtStatus NonDelegatingQueryInterface(const Guid& iid, void** object) override {
    if (iid == IID_IServiceSink) {
      *object = static_cast<IServiceSink*>(this);
      AddRef();
      return STATUS_SUCCESS;
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }
  void RequestService() override { ++requests; }
  int requests = 0;
};

// An outer object that aggregates a sink and answers for it.
class Outer final : public CUnknown {
 public:
  Outer() : CUnknown(nullptr) {}
  NtStatus NonDelegatingQueryInterface(const Guid& iid, void** object) override {
    if (iid == IID_IServiceSink) return inner->NonDelegatingQueryInterface(iid, object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }
  CountingSink* inner = nullptr;
};

TEST(PortClassObjects, LiveInPoolMemoryUntilTheirLastRelease) {
  const uint64_t before = poolUsage(kTag).outstandingBlocks;
  auto* sink = new (NonPagedPool, kTag) CountingSink(nullptr);
  ASSERT_NE(sink, nullptr);
  EXPECT_EQ(sink->AddRef(), 1u);
  EXPECT_EQ(poolUsage(kTag).outstandingBlocks, before + 1);
  void* unknown = nullptr;
  ASSERT_EQ(sink->QueryInterface(IID_IUnknown, &unknown), STATUS_SUCCESS);
  EXPECT_EQ(static_cast<IUnknown*>(unknown)->Release(), 1u);
  EXPECT_EQ(sink->QueryInterface(IID_IPortMidi, &unknown), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(unknown, nullptr);
  EXPECT_EQ(sink->Release(), 0u);
  EXPECT_EQ(poolUsage(kTag).outstandingBlocks, before);
}

TEST(PortClassObjects, AnAggregatedObjectDelegatesToItsOuter) {
  auto* outer = new (NonPagedPool, kTag) Outer();
  IUnknown* outerUnknown = outer->NonDelegatingUnknown();
  outerUnknown->AddRef();
  auto* inner = new (NonPagedPool, kTag) CountingSink(outerUnknown);
  inner->NonDelegatingAddRef();
  outer->inner = inner;
  // The inner object's own IUnknown counts for the outer one.
  EXPECT_EQ(inner->AddRef(), 2u);
  EXPECT_EQ(inner->Release(), 1u);
  void* sink = nullptr;
  ASSERT_EQ(outerUnknown->QueryInterface(IID_IServiceSink, &sink), STATUS_SUCCESS);
  EXPECT_EQ(sink, static_cast<IServiceSink*>(inner));
  static_cast<IServiceSink*>(sink)->Release();
  inner->NonDelegatingRelease();
  outerUnknown->Release();
}

TEST(ServiceGroups, ServeEachMemberOnceAndHoldItWhileItIsAMember) {
  IServiceGroup* group = nullptr;
  ASSERT_EQ(pcNewServiceGroup(&group, nullptr), STATUS_SUCCESS);
  auto* sink = new (NonPagedPool, kTag) CountingSink(nullptr);
  sink->AddRef();
  ASSERT_EQ(group->AddMember(sink), STATUS_SUCCESS);
  ASSERT_EQ(group->AddMember(sink), STATUS_SUCCESS);  // once only
  EXPECT_EQ(sink->AddRef(), 3u);                       // the group holds one reference
  sink->Release();
  group->RequestService();
  EXPECT_EQ(sink->requests, 1);
  group->RemoveMember(sink);
  group->RequestService();
  EXPECT_EQ(sink->requests, 1);
  EXPECT_EQ(sink->Release(), 0u);
  group->Release();
  EXPECT_EQ(livePortClassObjects(), 0u);
}

TEST(Subdevices, LinkNamesAreTheDeviceCategoryAndNameInLowerCase) {
  EXPECT_EQ(subdeviceLinkName(u"ROOT\\MEDIA\\0000", platform::KSCATEGORY_AUDIO, u"Topology"),
            u"root#media#0000#{6994ad04-93ef-11d0-a3cc-00a0c9223196}#topology");
  EXPECT_EQ(subdeviceLinkName(u"ROOT\\MEDIA\\0001", platform::KSCATEGORY_AUDIO, u"Midi 1.x"),
            u"root#media#0001#{6994ad04-93ef-11d0-a3cc-00a0c9223196}#midi_1_x");
}

TEST(Ports, OnlyTheTwoPortClassesExist) {
  IPort* port = nullptr;
  ASSERT_EQ(pcNewPort(&port, CLSID_PortMidi), STATUS_SUCCESS);
  void* midi = nullptr;
  ASSERT_EQ(port->QueryInterface(IID_IPortMidi, &midi), STATUS_SUCCESS);
  static_cast<IUnknown*>(midi)->Release();
  EXPECT_EQ(port->QueryInterface(IID_IPortTopology, &midi), STATUS_INVALID_PARAMETER);
  port->Release();
  EXPECT_EQ(pcNewPort(&port, IID_IUnknown), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(port, nullptr);
}

}  // namespace
}  // namespace platform::wdm
