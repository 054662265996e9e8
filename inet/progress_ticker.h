// Progress of a file transfer for an operator who watches it: a thread of
// its own reads the local file's offset about five times a second and hands
// it on, so that the transfer loops (which may leave the moving of bytes to
// the system) carry no bookkeeping of their own.
#ifndef ZORVEX_INET_PROGRESS_TICKER_H_
#define ZORVEX_INET_PROGRESS_TICKER_H_

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/file.h"

namespace inet {

class ProgressTicker {
 public:
  using Report = std::function<void(uint64_t done, uint64_t total)>;

  // Starts reporting `file`'s offset against `total` (0: not known) through
  // `report`; does nothing when `report` is empty. `file` must outlive the
  // ticker.
  ProgressTicker(const Report& report, const platform::File& file,
                 uint64_t total);
  // Stops the thread after one last report.
  ~ProgressTicker();
  ProgressTicker(const ProgressTicker&) = delete;
  ProgressTicker& operator=(const ProgressTicker&) = delete;

 private:
  void Run();
  void ReportNow();

  const Report& report_;
  const platform::File& file_;
  const uint64_t total_;
  std::mutex mu_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace inet

#endif  // ZORVEX_INET_PROGRESS_TICKER_H_
