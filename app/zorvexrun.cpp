#include "app/zorvexrun.h"

#include <cstdio>
#include <istream>
#include <new>
#include <utility>

#include "app/file_input.h"
#include "app/host_port.h"
#include "app/local_lookup.h"
#include "app/run_error.h"
#include "app/run_log.h"
#include "app/settings_reader.h"
#include "app/text_functions.h"
#include "app/message_box.h"
#include "app/operator_console.h"
#include "inet/ftp_client.h"
#include "platform/console.h"
#include "platform/locale.h"

namespace zorvex {
namespace {

// The run-time error that an escaping exception stands for.
RunError AsRunError(std::exception_ptr error) {
  try {
    std::rethrow_exception(std::move(error));
  } catch (const RunError& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return RunError(kErrOutOfMemory);
  } catch (...) {
    return RunError(kErrInternal);
  }
}

// The cause of a failure as the session reported it: the server's reply as it
// came, or the text of the error number.
std::string CauseLine(int32_t number, const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\n') continue;
    line.push_back(c == '\r' ? ' ' : c);
  }
  if (number < 100 || number > 599) line += " (error " + std::to_string(number) + ")";
  return line;
}

}  // namespace

ZorvexRun::ZorvexRun(RunEnvironment env)
    : env_(std::move(env)),
      os_(env_.env != nullptr ? env_.env : platform::Env::Default()),
      console_(std::make_shared<OperatorConsole>(
          env_.options.verbose,
          env_.options.progress && platform::StandardErrorIsTerminal())) {}

ZorvexRun::~ZorvexRun() = default;

std::string ZorvexRun::Now() const { return os_->TimeOfDay(); }

// Beside the executable: plain concatenation (the root folder "/" gives
// "//zorvex"). Beside a settings file named with -c: in its folder, which is
// the current one for a bare file name.
std::string ZorvexRun::Beside(std::string_view name) const {
  const std::string& settings = env_.options.settings;
  if (settings.empty())
    return env_.exe_folder + os_->PathSeparator() + std::string(name);
  const std::string separators =
      os_->PathSeparator() == '/' ? "/" : std::string("/:") + os_->PathSeparator();
  const size_t last = settings.find_last_of(separators);
  return (last == std::string::npos ? std::string() : settings.substr(0, last + 1)) +
         std::string(name);
}

std::string ZorvexRun::SettingsPath() const {
  return env_.options.settings.empty() ? Beside("zorvex") : env_.options.settings;
}

std::string ZorvexRun::TrustPath() const { return Beside("zorvex.pem"); }

std::string ZorvexRun::LogPath() const { return Beside("zorvexlog.txt"); }

std::shared_ptr<inet::Service> ZorvexRun::MakeService() {
  if (env_.make_service) return env_.make_service();
  const RunOptions& o = env_.options;
  if (!o.verbose && !console_->progress()) return nullptr;
  inet::FtpClientOptions options;
  std::shared_ptr<OperatorConsole> console = console_;
  if (o.verbose)
    options.trace = [console](std::string_view line) { console->Line(line); };
  if (console->progress())
    options.progress = [console](uint64_t done, uint64_t total) {
      console->Progress(done, total);
    };
  return std::make_shared<inet::FtpClient>(options);
}

void ZorvexRun::Fail(std::string_view text, int status) {
  console_->ClearProgress();
  if (!cause_.empty()) console_->Cause(std::exchange(cause_, std::string()));
  MsgBox(text);
  if (exit_status_ == kExitSuccess) exit_status_ = status;
}

void ZorvexRun::Form_Load() {
  std::string szLog;
  try {
    Run(szLog);
    Tail(szLog);
  } catch (...) {
    // The run's error handler: show the description, then the tail once
    // more. A failure while the handler is active ends the run at once.
    const RunError error = AsRunError(std::current_exception());
    Fail(error.description(), kExitRunTimeError);
    try {
      Tail(szLog);
    } catch (...) {
      const RunError again = AsRunError(std::current_exception());
      Fail("Run-time error '" + std::to_string(again.number()) +
               "': " + again.description(),
           kExitRunTimeError);
    }
  }
  Form_Unload();
}

void ZorvexRun::Form_Unload() {
  // Ending the program releases the session (closing any connection left).
  clsFtp.reset();
  std::fflush(stderr);
}

void ZorvexRun::Run(std::string& szLog) {
  std::string szMode;
  clsFtp = std::make_unique<Nimbrel>(MakeService(), MsgBox);
  // Only what was asked for is set: the session's own defaults stay.
  if (env_.options.retries > 0) clsFtp->Retries(env_.options.retries);
  if (env_.options.atomic) clsFtp->AtomicUpload(true);
  if (console_->verbose())
    clsFtp->OnFTPFrr([this](int32_t number, const std::string& text) {
      cause_ = CauseLine(number, text);
    });
  szLog = "Start=" + Now() + " - ";

  const std::string settings = SettingsPath();
  if (!LocalExists(settings, LookupKind::kFiles, os_)) {
    Fail("Not Found " + settings, kExitSettings);
    return;
  }
  {
    std::unique_ptr<platform::File> file;
    if (uint32_t e = os_->OpenForReading(platform::ToAnsi(settings), &file))
      throw ErrorFromSystem(e, FileOp::kOpenInput);
    FileInputBuffer buffer(file.get());
    std::istream in(&buffer);
    SettingsReader reader(in);
    if (reader.AtEnd()) {
      Fail("Empty " + settings, kExitSettings);
      return;
    }
    szHost = reader.InputString();
    szUser = reader.InputString();
    szPass = reader.InputString();
    nBinary = reader.InputLong();
    nPassive = reader.InputLong();
    const std::string szReserve = reader.InputString();
    (void)szReserve;  // reserved, not used
  }

  szCmd = env_.tail;
  if (InStr(szCmd, ",") == 0) {
    Fail("Command Error Not comma " + szCmd, kExitCommandLine);
    return;
  }
  const std::string head = Left(szCmd, 2);
  if (head == "/p") {
    // A char assignment: GCC 12 at -O3 warns falsely (-Wrestrict) about
    // assigning a literal here.
    szMode = 'p';
    ftp_put_chk();
    if (!LocalExists(szInFile, LookupKind::kFiles, os_)) {
      Fail("Not found infile " + szInFile, kExitLocalPath);
      return;
    }
  } else if (head == "/g") {
    szMode = 'g';
    ftp_get_chk();
    if (!LocalExists(szOutFolder, LookupKind::kFilesOrDirectories, os_)) {
      Fail("Not found outfolder " + szOutFolder, kExitLocalPath);
      return;
    }
  } else {
    Fail("Command Error Not /p or /g " + szCmd, kExitCommandLine);
    return;
  }
  if (szInFile.empty() || szOutFolder.empty()) {
    Fail("Command Error I/O Set " + szCmd, kExitCommandLine);
    return;
  }

  // The host field may name a port and ask for TLS ("ftpes://", "ftps://").
  const HostPort target = SplitHostPort(szHost);
  if (!target.valid) {
    Fail("Conect Error ", kExitConnection);
    return;
  }
  if (target.port) {
    clsFtp->RemotePort(*target.port);
  } else if (target.security == FtpSecurity::kImplicitTls) {
    clsFtp->RemotePort(inet::INTERNET_DEFAULT_FTPS_PORT);
  }
  if (target.security != FtpSecurity::kPlain) {
    clsFtp->Security(target.security);
    // A trust file beside the settings file: its certificates alone are
    // trusted.
    const std::string trust = TrustPath();
    if (LocalExists(trust, LookupKind::kFiles, os_)) clsFtp->TrustFile(trust);
  }
  clsFtp->RemoteHost(target.host);
  clsFtp->User(szUser);
  clsFtp->Password(szPass);
  clsFtp->PassiveFlag(nPassive != 0);
  clsFtp->OpenSession();
  if (clsFtp->hFTP() == 0) {
    Fail("Conect Error ", kExitConnection);
    return;
  }

  const int32_t nTransfer = nBinary != 0 ? 0 : 1;  // 1 = ASCII
  if (szMode == "p") {
    const int32_t put = clsFtp->PutFile(szInFile, szOutFolder, nTransfer);
    console_->ClearProgress();
    if (put == 0) {
      Fail("Put Error ", kExitTransfer);
      return;
    }
  }
  if (szMode == "g") {
    const std::string szRemote = szGetDir + "/" + szInFile;
    const std::string szLocal = szOutFolder + szInFile;
    const int32_t got = clsFtp->GetFile(szRemote, szLocal, false, nTransfer);
    console_->ClearProgress();
    if (got == 0) {
      Fail("Get Error ", kExitTransfer);
      return;
    }
  }
  szLog += "End=" + Now();
}

void ZorvexRun::Tail(const std::string& szLog) {
  try {
    WriteRunLog(os_, platform::ToAnsi(LogPath()),
                platform::ToAnsi(szLog) + "\r\n");
  } catch (const RunError& error) {
    cause_ = "the run log " + LogPath() + " cannot be written: " +
             error.description();
    throw;
  }
  if (clsFtp) clsFtp->CloseSession();
  clsFtp.reset();
}

void ZorvexRun::ftp_put_chk() {
  nComma = static_cast<int32_t>(InStr(szCmd, ","));
  szInFile = Trim(Mid(szCmd, 4, int64_t{nComma} - 4));
  szOutFolder = Trim(Mid(szCmd, int64_t{nComma} + 1));
}

void ZorvexRun::ftp_get_chk() {
  nComma = static_cast<int32_t>(InStr(szCmd, ","));
  const std::string szRemote = Trim(Mid(szCmd, 4, int64_t{nComma} - 4));
  szOutFolder = Trim(Mid(szCmd, int64_t{nComma} + 1));
  nComma = static_cast<int32_t>(InStrRev(szRemote, "/"));
  szGetDir = Left(szRemote, int64_t{nComma} - 1);
  szInFile = Mid(szRemote, int64_t{nComma} + 1);
}

}  // namespace zorvex
