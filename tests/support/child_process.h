// Helpers for test servers that run as child processes: work folders,
// starting a child that dies with the test, waiting for it to answer, and
// stopping it with everything it started.
#ifndef ZORVEX_TESTS_SUPPORT_CHILD_PROCESS_H_
#define ZORVEX_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Makes a fresh folder /tmp/<prefix>-XXXXXX; "" on failure.
std::string MakeWorkDir(const std::string& prefix);

// Starts argv[0] with argv in a process group of its own; the child is killed
// when the calling thread ends. Its stderr (and stdout, unless first_line is
// given) go to log_path. With first_line, waits up to timeout_ms for the first
// line the child writes on stdout and stores it without the line end.
// Returns the child's pid, or -1.
// With bind_mounts (pairs of file, place), the child gets a mount namespace of
// its own in which each file is seen in place of the system's.
int SpawnChild(
    const std::vector<std::string>& argv, const std::string& log_path,
    std::string* first_line, int timeout_ms,
    const std::vector<std::pair<std::string, std::string>>& bind_mounts = {});

// True while the child has not exited (does not reap it).
bool ChildRunning(int pid);

// Connects to address:port until a reply line starting with `prefix` (for
// example "220 ") arrives, retrying until timeout_ms; gives up early when
// the child `pid` exits.
bool WaitForGreeting(const std::string& address, int port,
                     const std::string& prefix, int timeout_ms, int pid);

// SIGTERM to the child's process group, SIGKILL after timeout_ms; reaps it.
void StopChild(int pid, int timeout_ms);

}  // namespace testsupport

#endif  // ZORVEX_TESTS_SUPPORT_CHILD_PROCESS_H_
