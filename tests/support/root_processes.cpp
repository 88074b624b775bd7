#include "tests/support/root_processes.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace testing_support {

namespace {

bool isZombieOrGone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  return close == std::string::npos || close + 2 >= text.size() || text[close + 2] == 'Z';
}

}  // namespace

std::vector<pid_t> processesOfRoot(const std::filesystem::path& root) {
  const std::string wanted = "WN_SYSTEM_ROOT=" + root.string();
  std::vector<pid_t> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    if (pid == ::getpid()) continue;
    std::ifstream environ(entry.path() / "environ", std::ios::binary);
    for (std::string variable; std::getline(environ, variable, '\0');) {
      if (variable == wanted) {
        if (!isZombieOrGone(pid)) found.push_back(pid);
        break;
      }
    }
  }
  return found;
}

void endProcessesOfRoot(const std::filesystem::path& root) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    const std::vector<pid_t> running = processesOfRoot(root);
    if (running.empty() || std::chrono::steady_clock::now() > deadline) return;
    for (const pid_t pid : running) ::kill(pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace testing_support
