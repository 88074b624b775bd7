#include "tests/support/hostile_caller.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/events.h"
#include "platform/unique_fd.h"

namespace testing_support {

HostileCaller::HostileCaller(const std::function<char()>& body)
    : child_([this, body] {
        if (go_.listen() == 0) return 1;
        report_.say(body());
        ::pause();
        return 0;
      }) {}

HostileCaller::~HostileCaller() { child_.kill(); }

FullEvent::FullEvent() {
  platform::UniqueFd event(::eventfd(0, EFD_CLOEXEC));
  const uint64_t fill = kFullCounter;
  if (!event.valid() || ::write(event.get(), &fill, sizeof fill) != sizeof fill) return;
  fd = event.get();
  handle = platform::adoptEventFd(std::move(event), false);
}

void FullEvent::makeBlocking() const { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK); }

uint64_t FullEvent::counter() const {
  uint64_t value = 0;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  return ::read(fd, &value, sizeof value) == sizeof value ? value : 0;
}

Alarm::Alarm(unsigned seconds) { ::alarm(seconds); }

Alarm::~Alarm() { ::alarm(0); }

}  // namespace testing_support
