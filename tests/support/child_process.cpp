#include "tests/support/child_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <thread>

#include "tests/support/raw_control.h"

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// One attempt: connect, then read until a line starting with prefix.
bool ProbeGreeting(const std::string& address, int port,
                   const std::string& prefix, int timeout_ms) {
  sockaddr_storage ss;
  socklen_t len = 0;
  if (!NumericAddress(address, port, &ss, &len)) return false;
  int fd = socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  bool ok = false;
  int rc = connect(fd, reinterpret_cast<sockaddr*>(&ss), len);
  if (rc == 0 || errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    int err = 0;
    socklen_t elen = sizeof(err);
    if (rc == 0 || (poll(&p, 1, MillisLeft(deadline)) == 1 &&
                    getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &elen) == 0 &&
                    err == 0)) {
      std::string text;
      char buf[512];
      while (!ok) {
        pollfd r{fd, POLLIN, 0};
        if (poll(&r, 1, MillisLeft(deadline)) != 1) break;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
        size_t start = 0;
        for (size_t eol; (eol = text.find('\n', start)) != std::string::npos;
             start = eol + 1) {
          if (text.compare(start, prefix.size(), prefix) == 0) ok = true;
        }
        if (text.size() > 65536) break;
      }
      if (ok) {
        static const char kQuit[] = "QUIT\r\n";
        ssize_t ignored = send(fd, kQuit, sizeof kQuit - 1, MSG_NOSIGNAL);
        (void)ignored;
      }
    }
  }
  close(fd);
  return ok;
}

}  // namespace

std::string MakeWorkDir(const std::string& prefix) {
  std::string tmpl = "/tmp/" + prefix + "-XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) return std::string();
  return tmpl;
}

int SpawnChild(
    const std::vector<std::string>& argv, const std::string& log_path,
    std::string* first_line, int timeout_ms,
    const std::vector<std::pair<std::string, std::string>>& bind_mounts) {
  int out[2] = {-1, -1};
  if (first_line != nullptr) {
    first_line->clear();
    if (pipe2(out, O_CLOEXEC) != 0) return -1;
  }
  int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                    0644);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    if (log_fd >= 0) {
      dup2(log_fd, 2);
      if (first_line == nullptr) dup2(log_fd, 1);
    }
    if (first_line != nullptr) dup2(out[1], 1);
    if (!bind_mounts.empty()) {
      if (unshare(CLONE_NEWNS) != 0 ||
          mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        dprintf(2, "cannot make a mount namespace: %s\n", strerror(errno));
        _exit(126);
      }
      for (const auto& [file, place] : bind_mounts) {
        if (mount(file.c_str(), place.c_str(), nullptr, MS_BIND, nullptr) != 0) {
          dprintf(2, "cannot bind %s on %s: %s\n", file.c_str(), place.c_str(),
                  strerror(errno));
          _exit(126);
        }
      }
    }
    // Sockets and files of the test must not stay open in the server.
    close_range(3, ~0U, 0);
    signal(SIGPIPE, SIG_DFL);
    execv(args[0], args.data());
    _exit(127);
  }
  if (log_fd >= 0) close(log_fd);
  if (first_line != nullptr) close(out[1]);
  if (pid < 0) {
    if (first_line != nullptr) close(out[0]);
    return -1;
  }
  if (first_line != nullptr) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    char c;
    while (true) {
      pollfd p{out[0], POLLIN, 0};
      if (poll(&p, 1, MillisLeft(deadline)) != 1) break;
      if (read(out[0], &c, 1) != 1 || c == '\n') break;
      first_line->push_back(c);
    }
    close(out[0]);
  }
  return pid;
}

bool ChildRunning(int pid) {
  siginfo_t info{};
  if (waitid(P_PID, static_cast<id_t>(pid), &info,
             WEXITED | WNOHANG | WNOWAIT) != 0) {
    return false;
  }
  return info.si_pid == 0;
}

bool WaitForGreeting(const std::string& address, int port,
                     const std::string& prefix, int timeout_ms, int pid) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    if (pid > 0 && !ChildRunning(pid)) return false;
    int left = MillisLeft(deadline);
    if (left == 0) return false;
    if (ProbeGreeting(address, port, prefix, std::min(left, 2000))) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
}

void StopChild(int pid, int timeout_ms) {
  if (pid <= 0) return;
  kill(-pid, SIGTERM);
  kill(pid, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (ChildRunning(pid) && MillisLeft(deadline) > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Whatever the server started (sessions of its own) goes with it.
  kill(-pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace testsupport
