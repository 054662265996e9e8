// Running the built zorvexrun as a child process from a folder of its own: a
// copy of the executable beside its settings file and run log, a work folder
// for local files, and the outcome (exit status, standard output and error,
// time taken).
#ifndef ZORVEX_TESTS_APP_RUN_SANDBOX_H_
#define ZORVEX_TESTS_APP_RUN_SANDBOX_H_

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/support/ftp_server.h"

extern char** environ;

namespace runsandbox {

struct Outcome {
  int status = -1;  // exit status; -1 when killed or dead of a signal
  std::string out;
  std::string err;
  double seconds = 0;  // wall time until the child ended
};

// Runs argv in `cwd` with the locale fixed to C.UTF-8; kills it (and fails
// the test) after timeout_s.
inline Outcome RunChild(const std::vector<std::string>& argv,
                        const std::string& cwd, int timeout_s) {
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string var(*e);
    if (var.rfind("LC_", 0) != 0 && var.rfind("LANG", 0) != 0) {
      env_strings.push_back(var);
    }
  }
  env_strings.emplace_back("LC_ALL=C.UTF-8");
  std::vector<char*> envp, args;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_copy = argv;
  for (auto& s : argv_copy) args.push_back(s.data());
  args.push_back(nullptr);

  Outcome outcome;
  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe";
    return outcome;
  }
  if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    ADD_FAILURE() << "pipe";
    return outcome;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  const auto deadline = start + std::chrono::seconds(timeout_s);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&outcome.out, &outcome.err};
  int open_fds = 2;
  bool killed = false;
  while (open_fds > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[65536];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  for (auto& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  outcome.seconds = std::chrono::duration<double>(
                        std::chrono::steady_clock::now() - start)
                        .count();
  EXPECT_FALSE(killed) << "zorvexrun did not end within " << timeout_s
                       << " s: " << argv.back();
  if (!killed && WIFEXITED(wstatus)) outcome.status = WEXITSTATUS(wstatus);
  if (!killed && WIFSIGNALED(wstatus)) {
    ADD_FAILURE() << "zorvexrun died of signal " << WTERMSIG(wstatus);
  }
  return outcome;
}

// The folder of one run: the executable, "zorvex", "zorvexlog.txt", work/.
class Sandbox {
 public:
  Sandbox() {
    std::filesystem::copy_file(ZORVEXRUN_EXE, exe());
    std::filesystem::create_directory(work());
  }
  std::string exe() const { return dir_ / "zorvexrun"; }
  std::string path(const std::string& name) const { return dir_ / name; }
  std::string work() const { return dir_ / "work"; }
  void Settings(const std::string& bytes) const {
    testsupport::WriteFile(dir_ / "zorvex", bytes);
  }
  std::string Log() const { return testsupport::ReadFile(dir_ / "zorvexlog.txt"); }
  // Copies the PEM file `pem` beside the settings file as zorvex.pem, the
  // trust file of a run with TLS.
  void Trust(const std::string& pem) const {
    std::filesystem::copy_file(
        pem, dir_ / "zorvex.pem",
        std::filesystem::copy_options::overwrite_existing);
  }

  // Runs with the tail as one argument (none when empty), in work().
  Outcome Run(const std::string& tail, int timeout_s = 60) const {
    std::vector<std::string> argv = {exe()};
    if (!tail.empty()) argv.push_back(tail);
    return RunChild(argv, work(), timeout_s);
  }
  // Runs with these arguments, in work().
  Outcome RunArgs(std::vector<std::string> args, int timeout_s = 60) const {
    args.insert(args.begin(), exe());
    return RunChild(args, work(), timeout_s);
  }

  // The names in the work folder, sorted.
  std::set<std::string> WorkNames() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(work())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

 private:
  testsupport::TempDir dir_;
};

// What zorvexrun writes on standard error for a message text.
inline std::string Message(const std::string& text) {
  return "zorvexrun: " + text + "\n";
}

// The run log after a failure ("Start=<time> - "), and after a success.
inline constexpr char kLogFailed[] = "Start=[^ ]+( [^ ]+)? - \r\n";
inline constexpr char kLogDone[] = "Start=[^ ]+( [^ ]+)? - End=[^ ]+( [^ ]+)?\r\n";

}  // namespace runsandbox

#endif  // ZORVEX_TESTS_APP_RUN_SANDBOX_H_
