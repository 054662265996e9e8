// One upload or download through our FTP client with the transfer guards
// switched as asked, as a whole process, for bench/resume_bench.py.
//
//   guard_bench put|get HOST PORT USER PASSWORD_FILE LOCAL REMOTE
//               [--no-verify] [--retries N] [--atomic] [--cut-at BYTES]
//
// --cut-at ends the first data connection of the run after BYTES received,
// as a network that drops it would; the client's retries take it from
// there. Prints the seconds the transfer took; exits 1 on failure.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "inet/errors.h"
#include "inet/ftp_client.h"
#include "platform/env.h"

namespace {

// A data connection that ends with a reset after `limit` bytes.
class CutStream : public platform::Stream {
 public:
  CutStream(std::unique_ptr<platform::Stream> inner, uint64_t limit)
      : inner_(std::move(inner)), left_(limit) {}
  uint32_t Read(char* buffer, size_t size, int timeout_ms,
                size_t* got) override {
    *got = 0;
    if (left_ == 0) {
      inner_->Close();
      return inet::ERROR_INTERNET_CONNECTION_RESET;
    }
    if (size > left_) size = static_cast<size_t>(left_);
    const uint32_t e = inner_->Read(buffer, size, timeout_ms, got);
    left_ -= *got;
    return e;
  }
  uint32_t Write(const char* data, size_t size, int timeout_ms) override {
    return inner_->Write(data, size, timeout_ms);
  }
  uint32_t Shutdown(int timeout_ms) override {
    return inner_->Shutdown(timeout_ms);
  }
  void Close() override { inner_->Close(); }
  platform::Address PeerAddress() const override {
    return inner_->PeerAddress();
  }
  platform::Address LocalAddress() const override {
    return inner_->LocalAddress();
  }

 private:
  std::unique_ptr<platform::Stream> inner_;
  uint64_t left_;
};

// Cuts the first data connection (the second connection of the run).
class CuttingEnv : public platform::EnvWrapper {
 public:
  explicit CuttingEnv(uint64_t cut_at)
      : EnvWrapper(platform::Env::Default()), cut_at_(cut_at) {}
  uint32_t ConnectTo(const platform::Address& remote,
                     const platform::Address* local, int timeout_ms,
                     std::unique_ptr<platform::Stream>* out) override {
    const uint32_t e = target()->ConnectTo(remote, local, timeout_ms, out);
    if (e == 0 && cut_at_ != 0 && !cut_) {
      cut_ = true;
      *out = std::make_unique<CutStream>(std::move(*out), cut_at_);
    }
    return e;
  }

 private:
  uint64_t cut_at_;
  bool cut_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 8) {
    std::fprintf(stderr,
                 "usage: guard_bench put|get HOST PORT USER PASSWORD_FILE "
                 "LOCAL REMOTE [--no-verify] [--retries N] [--atomic] "
                 "[--cut-at BYTES]\n");
    return 2;
  }
  const std::string op = argv[1];
  std::string password;
  std::ifstream(argv[5]) >> password;
  inet::FtpClientOptions options;
  uint64_t cut_at = 0;
  for (int i = 8; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--no-verify")) options.verify_upload = false;
    if (!std::strcmp(argv[i], "--atomic")) options.atomic_upload = true;
    if (!std::strcmp(argv[i], "--retries") && i + 1 < argc)
      options.retries = std::atoi(argv[++i]);
    if (!std::strcmp(argv[i], "--cut-at") && i + 1 < argc)
      cut_at = std::strtoull(argv[++i], nullptr, 10);
  }
  options.trace = [](std::string_view line) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
  };
  CuttingEnv env(cut_at);
  inet::FtpClient client(options, &env);
  const auto start = std::chrono::steady_clock::now();
  const inet::HINTERNET internet =
      client.InternetOpenA("guard_bench", 0, nullptr, nullptr, 0);
  const inet::HINTERNET h = client.InternetConnectA(
      internet, argv[2], std::atoi(argv[3]), argv[4], password.c_str(),
      inet::INTERNET_SERVICE_FTP, inet::INTERNET_FLAG_PASSIVE, 0);
  inet::BOOL ok = 0;
  if (h != 0) {
    ok = op == "put" ? client.FtpPutFileA(h, argv[6], argv[7],
                                          inet::FTP_TRANSFER_TYPE_BINARY, 0)
                     : client.FtpGetFileA(h, argv[7], argv[6], 0, 0,
                                          inet::FTP_TRANSFER_TYPE_BINARY, 0);
  }
  const unsigned error = ok ? 0 : client.GetLastError();
  client.InternetCloseHandle(internet);
  const double seconds = std::chrono::duration<double>(
                             std::chrono::steady_clock::now() - start)
                             .count();
  if (!ok) {
    std::fprintf(stderr, "failed: %u\n", error);
    return 1;
  }
  std::printf("%.3f\n", seconds);
  return 0;
}
