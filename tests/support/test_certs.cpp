#include "tests/support/test_certs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>

#include "tests/support/child_process.h"
#include "tests/support/temp_files.h"

namespace testsupport {
namespace {

// The folder of the certificates, removed when the process ends.
struct CertFolder {
  std::string path;
  TestCerts certs;
  ~CertFolder() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
};

std::unique_ptr<CertFolder> Make() {
  auto folder = std::make_unique<CertFolder>();
  folder->path = MakeWorkDir("zorvex-certs");
  if (folder->path.empty()) {
    ADD_FAILURE() << "cannot make a folder for the test certificates";
    return nullptr;
  }
  std::string command = std::string("/bin/bash '") + ZORVEX_SOURCE_DIR +
                        "/tests/support/make_test_certs.sh' '" + folder->path +
                        "' 127.0.0.1 ::1";
  for (int n = 1; n <= kTlsAddresses; ++n) command += " " + TlsLoopback(n);
  const std::string log = folder->path + "/make.log";
  command += " >'" + log + "' 2>&1";
  if (std::system(command.c_str()) != 0) {
    ADD_FAILURE() << "cannot make the test certificates:\n" << ReadFile(log);
    return nullptr;
  }
  TestCerts& c = folder->certs;
  const std::string& d = folder->path;
  c.ca = d + "/ca.pem";
  c.inter = d + "/inter.pem";
  c.other_root = d + "/other-root.pem";
  c.key = d + "/server.key";
  c.server_chain = d + "/server-chain.pem";
  c.expired_chain = d + "/expired-chain.pem";
  c.other_chain = d + "/other-chain.pem";
  c.dnsip_chain = d + "/dnsip-chain.pem";
  c.other = d + "/other.pem";
  c.selfsigned = d + "/selfsigned.pem";
  return folder;
}

}  // namespace

std::string TlsLoopback(int n) { return "127.0.12." + std::to_string(n); }

const TestCerts* TestCerts::Get() {
  static std::mutex mu;
  static std::unique_ptr<CertFolder> folder;
  std::lock_guard<std::mutex> lock(mu);
  if (!folder) folder = Make();
  return folder ? &folder->certs : nullptr;
}

}  // namespace testsupport
