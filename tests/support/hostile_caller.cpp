#include "tests/support/hostile_caller.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/events.h"
#include "platform/unique_fd.h"

namespace testing_support {

HostileCaller::HostileCaller(const std::function<char()>& body)
    : pipes_(makePipes()), child_([this, body] {
        char byte = 0;
        if (::read(pipes_.go[0], &byte, 1) != 1) return 1;
        const char result = body();
        if (::write(pipes_.report[1], &result, 1) != 1) return 1;
        ::pause();
        return 0;
      }) {}

HostileCaller::~HostileCaller() {
  child_.kill();
  for (int fd : {pipes_.go[0], pipes_.go[1], pipes_.report[0], pipes_.report[1]}) ::close(fd);
}

HostileCaller::Pipes HostileCaller::makePipes() {
  Pipes pipes{};
  if (::pipe2(pipes.go, O_CLOEXEC) != 0 || ::pipe2(pipes.report, O_CLOEXEC) != 0) std::abort();
  return pipes;
}

void HostileCaller::go() {
  if (::write(pipes_.go[1], "g", 1) != 1) std::abort();
}

char HostileCaller::result(std::chrono::milliseconds timeout) {
  pollfd p{pipes_.report[0], POLLIN, 0};
  char byte = 0;
  if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1 || ::read(pipes_.report[0], &byte, 1) != 1) return 0;
  return byte;
}

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
