#include "tests/support/ftp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/raw_control.h"

namespace testsupport {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kVsftpd = "/usr/sbin/vsftpd";
constexpr int kStartTimeoutMs = 10000;

std::string ScriptPath(const char* name) {
  return std::string(ZORVEX_SOURCE_DIR) + "/tests/support/" + name;
}

std::string Tail(const std::string& path, size_t max = 4000) {
  std::string text = Exists(path) ? ReadFile(path) : std::string();
  if (text.size() > max) text = "..." + text.substr(text.size() - max);
  return text;
}

// The vsftpd account: a local user with uid 0 that exists only in the
// server's own mount namespace (its own passwd, shadow and PAM files are bound
// over the system's there), locked into root() by chroot. Working as root lets
// tests replace, rename and remove files and folders they made themselves.
constexpr const char* kVsftpdUser = "zorvex";
constexpr const char* kPassword = "pw-zorvex-1";
// crypt(3) SHA-512 hash of kPassword.
constexpr const char* kPasswordHash =
    "$6$zorvexharness$RwwNxJYrcgUhYXQSKyqiKJ3L.7ZyjAfcWZCLe1fFMxvKvX2ZFp1OaQ9"
    "ZALalUHfdyWsB29JDoYaMdYKd8Po9q1";

// Writes the account files into workdir; returns the bind mounts that put
// them in place for the server.
std::vector<std::pair<std::string, std::string>> PrepareVsftpdAccount(
    const std::string& workdir) {
  std::error_code ec;
  fs::create_directories("/var/run/vsftpd/empty", ec);
  std::string passwd = ReadFile("/etc/passwd");
  if (!passwd.empty() && passwd.back() != '\n') passwd += '\n';
  passwd += std::string(kVsftpdUser) + ":x:0:0:test account:/:/bin/sh\n";
  WriteFile(workdir + "/passwd", passwd);
  WriteFile(workdir + "/shadow", std::string(kVsftpdUser) + ":" +
                                     kPasswordHash + ":19000:0:99999:7:::\n");
  chmod((workdir + "/shadow").c_str(), 0600);
  WriteFile(workdir + "/pam",
            "auth required pam_unix.so nodelay\n"
            "account required pam_permit.so\n"
            "session required pam_permit.so\n");
  return {{workdir + "/passwd", "/etc/passwd"},
          {workdir + "/shadow", "/etc/shadow"},
          {workdir + "/pam", "/etc/pam.d/vsftpd"}};
}

std::string VsftpdConfig(const std::string& address, int port,
                         const std::string& root, const std::string& workdir) {
  const bool v6 = address.find(':') != std::string::npos;
  std::ostringstream c;
  c << "listen=" << (v6 ? "NO" : "YES") << "\n"
    << "listen_ipv6=" << (v6 ? "YES" : "NO") << "\n"
    << (v6 ? "listen_address6=" : "listen_address=") << address << "\n"
    << "listen_port=" << port << "\n"
    << "background=NO\n"
    << "anonymous_enable=NO\n"
    << "local_enable=YES\n"
    << "pam_service_name=vsftpd\n"
    << "chroot_local_user=YES\n"
    << "allow_writeable_chroot=YES\n"
    << "local_root=" << root << "\n"
    << "write_enable=YES\n"
    << "local_umask=022\n"
    << "seccomp_sandbox=NO\n"
    << "isolate=NO\n"
    << "isolate_network=NO\n"
    << "connect_from_port_20=NO\n"
    << "pasv_enable=YES\n"
    << "port_enable=YES\n"
    << "pasv_promiscuous=NO\n"
    << "port_promiscuous=NO\n"
    << "ascii_upload_enable=YES\n"
    << "ascii_download_enable=YES\n"
    << "hide_ids=NO\n"
    << "dirmessage_enable=NO\n"
    << "use_localtime=NO\n"
    << "delay_failed_login=0\n"
    << "delay_successful_login=0\n"
    << "max_clients=0\n"
    << "max_per_ip=0\n"
    << "idle_session_timeout=600\n"
    << "data_connection_timeout=600\n"
    << "secure_chroot_dir=/var/run/vsftpd/empty\n"
    << "xferlog_enable=YES\n"
    << "xferlog_std_format=NO\n"
    << "log_ftp_protocol=YES\n"
    << "vsftpd_log_file=" << workdir << "/vsftpd.log\n"
    << "ftpd_banner=vsftpd test server ready.\n";
  return c.str();
}

// TLS required for logins and data, every data connection resuming the
// control connection's session (require_ssl_reuse), and the handshakes in
// the log. vsftpd's own default cipher list holds nothing that OpenSSL 3
// still offers for TLS 1.2, so that only TLS 1.3 would work without ours.
std::string VsftpdTlsConfig(const ServerOptions& options) {
  std::ostringstream c;
  c << "ssl_enable=YES\n"
    << "implicit_ssl=" << (options.tls == TlsMode::kImplicit ? "YES" : "NO")
    << "\n"
    << "rsa_cert_file=" << options.cert_chain << "\n"
    << "rsa_private_key_file=" << options.cert_key << "\n"
    << "force_local_logins_ssl=YES\n"
    << "force_local_data_ssl=YES\n"
    << "require_ssl_reuse=YES\n"
    << "ssl_sslv2=NO\n"
    << "ssl_sslv3=NO\n"
    << "ssl_tlsv1=YES\n"
    << "ssl_ciphers=HIGH:!aNULL:!MD5\n"
    << "debug_ssl=YES\n";
  return c.str();
}

// vsftpd has no setting for the highest TLS version; OpenSSL's own
// configuration does, and the server reads ours in place of the one OpenSSL
// would read (bound over it in the server's mount namespace only).
std::string SystemOpenSslConf() {
  const char* chosen = std::getenv("OPENSSL_CONF");
  return chosen != nullptr && *chosen != '\0' ? chosen
                                               : "/usr/lib/ssl/openssl.cnf";
}
constexpr const char* kTls12OpenSslConf =
    "openssl_conf = zorvex_tests\n"
    "[zorvex_tests]\n"
    "ssl_conf = zorvex_ssl\n"
    "[zorvex_ssl]\n"
    "system_default = zorvex_tls12\n"
    "[zorvex_tls12]\n"
    "MaxProtocol = TLSv1.2\n";

// Until a TCP connection to address:port is accepted: an implicit TLS
// server says nothing in clear. False after timeout_ms or when `pid` exits.
bool WaitForListener(const std::string& address, int port, int timeout_ms,
                     int pid) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!ChildRunning(pid)) return false;
    const int fd = ConnectTcp(address, port);
    if (fd >= 0) {
      close(fd);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

// Asks the system for a port that is free on `address` right now.
int PickFreePort(const std::string& address) {
  sockaddr_storage ss;
  socklen_t len = 0;
  if (!NumericAddress(address, 0, &ss, &len)) return 0;
  const bool v6 = ss.ss_family == AF_INET6;
  int fd = socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&ss), len) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) == 0) {
    port = v6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port)
              : ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
  }
  close(fd);
  return port;
}

}  // namespace

const char* KindName(ServerKind kind) {
  return kind == ServerKind::kVsftpd ? "vsftpd" : "pyftpdlib";
}

std::unique_ptr<FtpServer> FtpServer::Start(ServerKind kind,
                                            const ServerOptions& options) {
  std::unique_ptr<FtpServer> server(new FtpServer());
  server->kind_ = kind;
  server->address_ = options.address;
  server->workdir_ = MakeWorkDir("zorvex-ftpd");
  if (server->workdir_.empty()) {
    ADD_FAILURE() << "cannot make a work folder under /tmp: "
                  << std::strerror(errno);
    return nullptr;
  }
  server->root_ = server->workdir_ + "/root";
  fs::create_directory(server->root_);
  chmod(server->workdir_.c_str(), 0755);
  chmod(server->root_.c_str(), 0755);

  std::string failure;
  const bool tls = options.tls != TlsMode::kNone;
  if (kind == ServerKind::kPyftpdlib) {
    if (options.tls == TlsMode::kImplicit) {
      ADD_FAILURE() << "pyftpdlib has no implicit TLS";
      return nullptr;
    }
    server->user_ = "zorvex";
    server->password_ = kPassword;
    const std::string log = server->workdir_ + "/pyftpd.log";
    server->log_ = log;
    std::vector<std::string> argv = {
        kPython,     ScriptPath("pyftpd.py"),
        "--address", options.address,
        "--port",    std::to_string(options.port),
        "--root",    server->root_,
        "--user",    server->user_,
        "--password", server->password_,
        "--log",     log};
    if (tls) {
      argv.insert(argv.end(), {"--tls", "explicit", "--cert-chain",
                               options.cert_chain, "--cert-key",
                               options.cert_key});
      if (options.tls12_only) argv.push_back("--tls12-only");
    }
    std::string first_line;
    server->pid_ = SpawnChild(argv, server->workdir_ + "/stderr.log",
                              &first_line, kStartTimeoutMs);
    if (server->pid_ > 0) server->port_ = std::atoi(first_line.c_str());
    if (server->pid_ <= 0 || server->port_ <= 0) {
      failure = "pyftpdlib did not report its port (got \"" + first_line +
                "\")";
    } else if (!WaitForGreeting(options.address, server->port_, "220 ",
                                kStartTimeoutMs, server->pid_)) {
      failure = "pyftpdlib does not answer";
    }
    if (!failure.empty()) {
      failure += "\n--- stderr:\n" + Tail(server->workdir_ + "/stderr.log") +
                 "\n--- log:\n" + Tail(log);
    }
  } else {
    auto mounts = PrepareVsftpdAccount(server->workdir_);
    if (tls && options.tls12_only) {
      WriteFile(server->workdir_ + "/openssl.cnf", kTls12OpenSslConf);
      mounts.emplace_back(server->workdir_ + "/openssl.cnf",
                          SystemOpenSslConf());
    }
    server->log_ = server->workdir_ + "/vsftpd.log";
    server->user_ = kVsftpdUser;
    server->password_ = kPassword;
    const std::string conf = server->workdir_ + "/vsftpd.conf";
    // A port picked for us may be taken by someone else before the server
    // binds it; then try another.
    const int attempts = options.port == 0 ? 5 : 1;
    for (int attempt = 0; attempt < attempts; ++attempt) {
      failure.clear();
      int port = options.port != 0 ? options.port
                                   : PickFreePort(options.address);
      WriteFile(conf, VsftpdConfig(options.address, port, server->root_,
                                   server->workdir_) +
                          (tls ? VsftpdTlsConfig(options) : std::string()));
      chmod(conf.c_str(), 0600);
      server->pid_ = SpawnChild({kVsftpd, conf},
                                server->workdir_ + "/stderr.log", nullptr, 0,
                                mounts);
      server->port_ = port;
      const bool ready =
          server->pid_ > 0 &&
          (options.tls == TlsMode::kImplicit
               ? WaitForListener(options.address, port, kStartTimeoutMs,
                                 server->pid_)
               : WaitForGreeting(options.address, port, "220 ",
                                 kStartTimeoutMs, server->pid_));
      if (server->pid_ <= 0) {
        failure = "cannot start " + std::string(kVsftpd);
      } else if (!ready) {
        failure = "vsftpd does not answer on port " + std::to_string(port);
        StopChild(server->pid_, 3000);
        server->pid_ = -1;
      }
      if (failure.empty()) break;
      failure += "\n--- stderr:\n" + Tail(server->workdir_ + "/stderr.log") +
                 "\n--- log:\n" + Tail(server->workdir_ + "/vsftpd.log");
    }
  }
  if (!failure.empty()) {
    ADD_FAILURE() << "cannot start " << KindName(kind) << " on "
                  << options.address << ":" << options.port << ": " << failure;
    return nullptr;
  }
  return server;
}

std::string FtpServer::Log() const { return ReadFile(log_); }

FtpServer::~FtpServer() {
  if (pid_ > 0) StopChild(pid_, 5000);
  if (!workdir_.empty()) {
    std::error_code ec;
    fs::remove_all(workdir_, ec);
  }
}

}  // namespace testsupport
