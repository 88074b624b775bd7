#include "tests/support/private_network.h"

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

extern char** environ;

namespace testing_support {

namespace {

bool entered = false;

bool writeFile(const char* path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  return static_cast<bool>(out.flush());
}

// Without the right to make a network namespace, a user namespace in which
// this user is root may grant it.
bool unshareNetwork(std::string* error) {
  if (::unshare(CLONE_NEWNET) == 0) return true;
  const int first = errno;
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
    *error = std::string("unshare of the network namespace failed: ") + std::strerror(first) +
             "; with a user namespace: " + std::strerror(errno);
    return false;
  }
  if (!writeFile("/proc/self/setgroups", "deny") ||
      !writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
      !writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n")) {
    *error = "cannot map this user into the user namespace";
    return false;
  }
  return true;
}

}  // namespace

bool runIp(const std::vector<std::string>& arguments, std::string* error) {
  std::vector<std::string> words = {"ip"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  pid_t pid = -1;
  int spawned = ENOENT;
  for (const char* program : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
    if (::access(program, X_OK) != 0) continue;
    spawned = ::posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ);
    break;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  std::string output;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) output.append(buffer, static_cast<size_t>(n));
  ::close(pipeFds[0]);
  if (spawned != 0) {
    if (error != nullptr) *error = "cannot run ip (install iproute2): " + std::string(std::strerror(spawned));
    return false;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!ok && error != nullptr) {
    std::string command;
    for (const std::string& word : words) command += (command.empty() ? "" : " ") + word;
    *error = command + ": " + output;
  }
  return ok;
}

bool enterPrivateNetwork(std::string* error) {
  if (entered) return true;
  if (!unshareNetwork(error)) return false;
  entered = true;
  return runIp({"link", "set", "lo", "up"}, error) && runIp({"route", "add", "224.0.0.0/4", "dev", "lo"}, error) &&
         runIp({"addr", "add", std::string(kSecondComputerAddress) + "/8", "dev", "lo"}, error);
}

bool inPrivateNetwork() { return entered; }

void PrivateNetworkEnvironment::SetUp() {
  std::string error;
  ASSERT_TRUE(enterPrivateNetwork(&error))
      << "these tests send UDP multicast and run only in a private network namespace, which cannot be made here: "
      << error;
}

}  // namespace testing_support
