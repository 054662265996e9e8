// The batch run: one upload ("/p local,remote") or one download
// ("/g remote,localfolder") per process.
//
// ZorvexRun is the program's main module. Form_Load performs the whole run:
// it reads the settings file beside the executable (or the one named by
// -c), splits the command-line
// tail, checks the local side, opens the FTP session, transfers the one file,
// writes the run log beside the executable and closes the session. Every
// failure is shown through MsgBox and sends the run to the same closing tail.
#ifndef ZORVEX_APP_ZORVEXRUN_H_
#define ZORVEX_APP_ZORVEXRUN_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/run_options.h"
#include "ftp/nimbrel.h"
#include "inet/service.h"
#include "platform/env.h"

namespace zorvex {

inline constexpr std::string_view kZorvexrunVersion = "0.9.0";

// The process's exit status, one per class of failure.
enum ExitStatus : int {
  kExitSuccess = 0,
  kExitRunTimeError = 1,  // a run-time error, the run log not written
  kExitSettings = 2,      // settings file missing or empty
  kExitCommandLine = 3,   // no comma, neither /p nor /g, an empty path piece
  kExitLocalPath = 4,     // local file or local folder not found
  kExitConnection = 5,    // no connection (unreachable, login refused)
  kExitTransfer = 6,      // the upload or the download failed
  kExitSignalBase = 128,  // the user interrupted the run: 128 + the signal
};

// What the run takes from the process. Strings are UTF-8.
struct RunEnvironment {
  // The platform: files, folders, the time of day; null: the process's own.
  platform::Env* env = nullptr;
  // The executable's folder, without a final separator (except for a root).
  std::string exe_folder;
  // The command-line tail (Env::CommandTail).
  std::string tail;
  // Makes the service for the session; empty: the session's own FTP client
  // (ours, set up for `options`).
  std::function<std::shared_ptr<inet::Service>()> make_service;
  // The options that came before the tail.
  RunOptions options;
};

class OperatorConsole;

class ZorvexRun {
 public:
  explicit ZorvexRun(RunEnvironment env);
  ~ZorvexRun();
  ZorvexRun(const ZorvexRun&) = delete;
  ZorvexRun& operator=(const ZorvexRun&) = delete;

  // Performs the run; always ends with Form_Unload. Never throws.
  void Form_Load();
  // The status the process ends with: 128 + the signal's number when the
  // user interrupted the run (130 for SIGINT or Ctrl+C, 143 for SIGTERM, 129
  // for SIGHUP), else that of the first failure, else 0.
  int exit_status() const {
    const int signal = os_->Interrupted();
    return signal != 0 ? kExitSignalBase + signal : exit_status_;
  }

  // Split szCmd into szInFile / szOutFolder (and szGetDir for a download).
  // A comma right after "/p" or "/g", or a download path without "/", raises
  // run-time error 5.
  void ftp_put_chk();
  void ftp_get_chk();

  // Form-level state.
  std::string szHost;     // settings field 1
  std::string szUser;     // settings field 2
  std::string szPass;     // settings field 3
  int32_t nBinary = 0;    // settings field 4: non-zero = binary
  int32_t nPassive = 0;   // settings field 5: non-zero = passive mode
  std::string szCmd;      // the command-line tail, unchanged
  std::string szInFile;   // /p: local file; /g: remote file name
  std::string szOutFolder;  // /p: remote path; /g: local folder
  int32_t nComma = 0;     // first ","; in /g then the last "/" of the remote path
  std::string szGetDir;   // /g: the remote directory
  std::unique_ptr<Nimbrel> clsFtp;

 private:
  // Steps up to the transfer; returns early after a reported failure.
  void Run(std::string& szLog);
  // Writes the run log, closes and releases the session.
  void Tail(const std::string& szLog);
  void Form_Unload();
  // Shows a failure and records its exit status.
  void Fail(std::string_view text, int status);
  std::string Now() const;
  // The service for the session: the environment's, or our FTP client with
  // the options asked for.
  std::shared_ptr<inet::Service> MakeService();
  // A path beside the settings file (or the executable).
  std::string Beside(std::string_view name) const;
  std::string SettingsPath() const;
  std::string LogPath() const;
  std::string TrustPath() const;

  RunEnvironment env_;
  platform::Env* os_;  // env_.env, or the process's own
  int exit_status_ = kExitSuccess;
  // -v and --progress; shared with the client's callbacks.
  std::shared_ptr<OperatorConsole> console_;
  // The last failure the session reported (-v): "" once shown.
  std::string cause_;
};

}  // namespace zorvex

#endif  // ZORVEX_APP_ZORVEXRUN_H_
