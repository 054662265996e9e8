// Certificates for the FTP over TLS tests: made by
// tests/support/make_test_certs.sh (the openssl command alone) the first time
// a test asks for them, into a temporary folder that goes away with the test
// process.
#ifndef ZORVEX_TESTS_SUPPORT_TEST_CERTS_H_
#define ZORVEX_TESTS_SUPPORT_TEST_CERTS_H_

#include <string>

namespace testsupport {

// The loopback addresses of the TLS tests, each named by the server
// certificates as an IP address: 127.0.0.1, ::1 and 127.0.12.1 to
// 127.0.12.<kTlsAddresses>. TlsLoopback(n) is "127.0.12.<n>"; a test that
// serves on port 21 takes an n of its own, so that tests run side by side
// never compete for a port.
constexpr int kTlsAddresses = 40;
std::string TlsLoopback(int n);

struct TestCerts {
  std::string ca;             // the test root: what a trust file holds
  std::string inter;          // the intermediate that issued the leaves
  std::string other_root;     // a root that issued nothing here
  std::string key;            // the private key of every server certificate
  // Server chains (leaf, then the intermediate), each for `key`:
  std::string server_chain;   // DNS:localhost and every address above
  std::string expired_chain;  // the same names, expired since 2021
  std::string other_chain;    // DNS:other.example only
  std::string dnsip_chain;    // every address spelt as a DNS name, no IP
  std::string other;          // the leaf of other_chain alone (to pin it)
  std::string selfsigned;     // self-signed, with the server's names

  // The certificates, made on the first call; nullptr (and the current test
  // failed) when they cannot be made.
  static const TestCerts* Get();
};

}  // namespace testsupport

#endif  // ZORVEX_TESTS_SUPPORT_TEST_CERTS_H_
