#include "inet/progress_ticker.h"

#include <chrono>

namespace inet {
namespace {

constexpr std::chrono::milliseconds kInterval{200};

}  // namespace

ProgressTicker::ProgressTicker(const Report& report, const platform::File& file,
                               uint64_t total)
    : report_(report), file_(file), total_(total) {
  if (report_) thread_ = std::thread([this] { Run(); });
}

ProgressTicker::~ProgressTicker() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
  ReportNow();
}

void ProgressTicker::ReportNow() {
  uint64_t done = 0;
  if (file_.Position(&done) == 0) report_(done, total_);
}

void ProgressTicker::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!wake_.wait_for(lock, kInterval, [this] { return stop_; })) {
    lock.unlock();
    ReportNow();
    lock.lock();
  }
}

}  // namespace inet
