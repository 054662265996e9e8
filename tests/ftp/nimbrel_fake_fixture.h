// A Nimbrel over the recording fake, with its FTPFrr events collected, and
// access to the object's private operations.
#ifndef ZORVEX_TESTS_FTP_NIMBREL_FAKE_FIXTURE_H_
#define ZORVEX_TESTS_FTP_NIMBREL_FAKE_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/nimbrel.h"
#include "tests/support/recording_service.h"

namespace zorvex {

class NimbrelTestAccess {
 public:
  static void RaiseFtpError(Nimbrel& n, int32_t nError) {
    n.RaiseFtpError(nError);
  }
  static std::string GetSystemMessage(Nimbrel& n, int32_t id) {
    return n.GetSystemMessage(id);
  }
  static int32_t MakeLangId(Nimbrel& n, int16_t nPrimary, int32_t nSub) {
    return n.MakeLangId(nPrimary, nSub);
  }
  static void CloseFind(Nimbrel& n) { n.CloseFind(); }
  static uint32_t hFind(const Nimbrel& n) { return n.hFind_; }
};

struct FtpEvent {
  int32_t number;
  std::string text;
  friend bool operator==(const FtpEvent&, const FtpEvent&) = default;
  friend std::ostream& operator<<(std::ostream& os, const FtpEvent& e) {
    return os << "FTPFrr(" << e.number << ", \"" << e.text << "\")";
  }
};

inline const std::string kNameNotResolvedText = "サーバー名を解決できませんでした。";
inline const std::string kNoTextText = "エラーが発生しています。";

class NimbrelFakeTest : public ::testing::Test {
 protected:
  // Creates the object (after any scripting of its creation), listens to its
  // events and forgets the creation's calls.
  Nimbrel& Make() {
    nimbrel_ = std::make_unique<Nimbrel>(
        fake_, [this](std::string_view text) { shown_.emplace_back(text); });
    nimbrel_->OnFTPFrr([this](int32_t number, const std::string& text) {
      events_.push_back(FtpEvent{number, text});
    });
    fake_->ClearCalls();
    return *nimbrel_;
  }
  // Make(), then a successful OpenSession (hFTP 2), calls forgotten.
  Nimbrel& Connected() {
    Nimbrel& n = Make();
    n.OpenSession();
    fake_->ClearCalls();
    return n;
  }

  std::shared_ptr<testsupport::RecordingService> fake_ =
      std::make_shared<testsupport::RecordingService>();
  // Declared before the object, which may still raise events as it goes.
  std::vector<FtpEvent> events_;
  std::vector<std::string> shown_;  // the object's own messages
  std::unique_ptr<Nimbrel> nimbrel_;
};

}  // namespace zorvex

#endif  // ZORVEX_TESTS_FTP_NIMBREL_FAKE_FIXTURE_H_
