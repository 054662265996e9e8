#include "tests/support/fault_server.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/ftp_server.h"

namespace testsupport {
namespace {

constexpr int kStartTimeoutMs = 10000;

// The value of a string field in one JSON event line ("" when absent). The
// server writes compact JSON, so "name":"value" appears literally.
std::string Field(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\":\"";
  size_t at = line.find(key);
  if (at == std::string::npos) return std::string();
  std::string value;
  for (size_t i = at + key.size(); i < line.size() && line[i] != '"'; ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) ++i;
    value.push_back(line[i]);
  }
  return value;
}

}  // namespace

std::unique_ptr<FaultServer> FaultServer::Start(const std::string& scenario,
                                                const std::string& address,
                                                int port) {
  FaultOptions options;
  options.address = address;
  options.port = port;
  return Start(scenario, options);
}

std::unique_ptr<FaultServer> FaultServer::Start(const std::string& scenario,
                                                const FaultOptions& options) {
  std::unique_ptr<FaultServer> server(new FaultServer());
  server->scenario_ = scenario;
  server->address_ = options.address;
  server->workdir_ = MakeWorkDir("zorvex-faultftpd");
  if (server->workdir_.empty()) {
    ADD_FAILURE() << "cannot make a work folder under /tmp: "
                  << std::strerror(errno);
    return nullptr;
  }
  server->root_ = server->workdir_ + "/root";
  server->events_path_ = server->workdir_ + "/events.jsonl";
  std::filesystem::create_directory(server->root_);
  chmod(server->workdir_.c_str(), 0755);

  std::vector<std::string> argv = {
      "/usr/bin/python3",
      std::string(ZORVEX_SOURCE_DIR) + "/tests/support/faultftpd.py",
      "--scenario", scenario,
      "--address", options.address,
      "--port", std::to_string(options.port),
      "--root", server->root_,
      "--events", server->events_path_};
  if (!options.fault_at.empty()) {
    argv.insert(argv.end(), {"--fault-at", options.fault_at});
  }
  if (!options.decoy_address.empty()) {
    argv.insert(argv.end(), {"--decoy-address", options.decoy_address});
  }
  if (options.decoy_port != 0) {
    argv.insert(argv.end(), {"--decoy-port", std::to_string(options.decoy_port)});
  }
  if (!options.foreign_address.empty()) {
    argv.insert(argv.end(), {"--foreign-address", options.foreign_address});
  }
  if (!options.user.empty()) {
    argv.insert(argv.end(), {"--user", options.user, "--password", options.password});
  }
  if (!options.cert_chain.empty()) {
    argv.insert(argv.end(), {"--cert", options.cert_chain, "--key", options.cert_key});
  }
  if (options.hide_size) argv.push_back("--hide-size");
  if (options.no_rest) argv.push_back("--no-rest");
  if (options.tls) argv.push_back("--tls");
  const std::string log = server->workdir_ + "/stderr.log";
  std::string first_line;
  server->pid_ = SpawnChild(argv, log, &first_line, kStartTimeoutMs);
  if (server->pid_ > 0) server->port_ = std::atoi(first_line.c_str());
  if (server->pid_ <= 0 || server->port_ <= 0) {
    ADD_FAILURE() << "cannot start the fault server (scenario " << scenario
                  << ") on " << options.address << ":" << options.port
                  << ": got \"" << first_line << "\"\n--- stderr:\n"
                  << ReadFile(log);
    return nullptr;
  }
  return server;
}

FaultServer::~FaultServer() {
  if (pid_ > 0) StopChild(pid_, 3000);
  if (!workdir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(workdir_, ec);
  }
}

std::vector<std::string> FaultServer::Events() const {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(events_path_));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> FaultServer::Events(const std::string& kind) const {
  std::vector<std::string> lines;
  for (const std::string& line : Events()) {
    if (Field(line, "ev") == kind) lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> FaultServer::Commands() const {
  std::vector<std::string> verbs;
  for (const std::string& line : Events("command")) {
    verbs.push_back(Field(line, "verb"));
  }
  return verbs;
}

bool FaultServer::WaitForEvent(const std::string& needle,
                               int timeout_ms) const {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    if (ReadFile(events_path_).find(needle) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace testsupport
