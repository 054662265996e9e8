// The moment by which a whole operation must end, made from its timeout:
// each wait inside the operation gets only what is left, so that a peer
// that trickles bytes cannot stretch the operation past its timeout.
#ifndef ZORVEX_PLATFORM_DEADLINE_H_
#define ZORVEX_PLATFORM_DEADLINE_H_

#include <algorithm>
#include <chrono>
#include <climits>

namespace platform {

class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  // Already passed.
  Deadline() = default;
  // `timeout_ms` from now; a negative timeout counts as 0.
  explicit Deadline(int timeout_ms)
      : at_(Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0))) {}

  // The milliseconds left, 0 once the deadline has passed.
  int LeftMs() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          at_ - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
  }

 private:
  Clock::time_point at_{};
};

}  // namespace platform

#endif  // ZORVEX_PLATFORM_DEADLINE_H_
