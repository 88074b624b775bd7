#pragma once
// Inside the port class driver: the object behind each file object of a
// port-class device (a filter, or a pin with its filter), the subdevice
// interface every port implements, and the part all ports share (filter
// descriptor, event list, pin instance counts).

#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/kernel/wdm/kernel_streaming.h"
#include "platform/kernel/wdm/port_class.h"

namespace platform::wdm {

// Counts the port class's own objects, for leak checks.
void countPortClassObject(int delta);

// What a file object of a port-class device stands for.
class KsObject {
 public:
  KsObject() { countPortClassObject(1); }
  virtual ~KsObject() { countPortClassObject(-1); }
  KsObject(const KsObject&) = delete;
  KsObject& operator=(const KsObject&) = delete;

  // Handles a device control request: completes it, or marks it pending and
  // returns STATUS_PENDING.
  virtual NtStatus deviceControl(Irp* irp) = 0;
  // The file's last handle went: finish every pending request.
  virtual void cleanup() {}
};

class PortBase;

// How the port class reaches a port registered as a subdevice.
struct ISubdevice : IUnknown {
  // Releases the miniport and everything else the port holds (the references
  // between port and miniport go both ways).
  virtual void ReleaseChildren() = 0;
  virtual PortBase* Port() = 0;
};

// The value of a set request. The device host carries only input bytes to
// the driver, so a caller appends the value it would pass in its output
// buffer to the input; when it did, the last `valueSize` bytes of the input
// are copied into the value buffer and the count is returned (0 otherwise,
// and the value buffer keeps what the output buffer brought).
uint32_t takeSetValue(Irp* irp, const uint8_t* input, uint32_t inputLength, uint32_t headSize, uint32_t valueSize);

// Completes a request with a status and byte count; returns the status.
NtStatus completeIrp(Irp* irp, NtStatus status, uintptr_t information = 0);

// The shared part of the MIDI and topology ports: the subdevice and the
// event list (IPortEvents). A port answers its own interfaces and passes
// other queries to PortBase::NonDelegatingQueryInterface.
class PortBase : public IPortEvents, public ISubdevice, public CUnknown {
 public:
  explicit PortBase(IUnknown* outer);
  ~PortBase() override;

  NtStatus NonDelegatingQueryInterface(const Guid& iid, void** object) override;
  void AddEventToEventList(KSEVENT_ENTRY* entry) override { addEventEntry(entry); }
  void GenerateEventList(const Guid* set, uint32_t eventId, bool pinEvent, uint32_t pinId, bool nodeEvent,
                         uint32_t nodeId) override {
    generateEvents(set, eventId, pinEvent, pinId, nodeEvent, nodeId);
  }
  PortBase* Port() override { return this; }

  const PCFILTER_DESCRIPTOR* descriptor() const { return descriptor_; }
  DeviceObject* device() const { return device_; }
  // The miniport as property and event handlers expect it.
  virtual IUnknown* miniportTarget() = 0;

  // A new filter for a file object opened on the subdevice.
  KsObject* newFilter(FileObject* file);
  // Turns `file` into a pin of pin factory `pinId`. On success the pin owns
  // `filter`; on failure the caller keeps it. STATUS_INVALID_DEVICE_REQUEST
  // for ports without pins.
  virtual NtStatus createPin(FileObject* file, uint32_t pinId, const KSDATAFORMAT* format, KsObject* filter,
                             KsObject** pin);

  // Pin instances: taken when a pin is created, given back when it closes.
  bool takePinInstance(uint32_t pinId);
  void returnPinInstance(uint32_t pinId);
  uint32_t pinInstances(uint32_t pinId);

  // Event list (IPortEvents), shared by every filter of the port.
  void addEventEntry(KSEVENT_ENTRY* entry);
  void removeEventEntry(KSEVENT_ENTRY* entry);
  void generateEvents(const Guid* set, uint32_t eventId, bool pinEvent, uint32_t pinId, bool nodeEvent,
                      uint32_t nodeId);
  // Removes the entries of `file` (with `eventHandle` when given) and returns them.
  std::vector<KSEVENT_ENTRY*> takeEventEntries(FileObject* file, const uint32_t* eventHandle);

 protected:
  NtStatus initBase(DeviceObject* device, IMiniport* miniport);
  void releaseEventEntries();

  DeviceObject* device_ = nullptr;
  const PCFILTER_DESCRIPTOR* descriptor_ = nullptr;

 private:
  SpinLock eventLock_;
  std::list<KSEVENT_ENTRY*> events_;
  std::mutex instancesMutex_;
  std::vector<uint32_t> instances_;
};

// The port objects, created by pcNewPort.
IPort* newMidiPort();
IPort* newTopologyPort();

}  // namespace platform::wdm
