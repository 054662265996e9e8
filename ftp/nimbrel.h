// Nimbrel: one FTP session over the Internet FTP service.
//
// A caller sets the connection properties, calls OpenSession, transfers files
// and calls CloseSession. Every failure is reported twice: through the
// operation's result (0, or hFTP() == 0 after OpenSession) and through the
// event FTPFrr, whose listeners are called synchronously inside the failing
// operation, before it returns. Error 18 (no more files) raises no event; it
// sets RemoteFile()->SearchEnd instead. No operation throws for a service
// failure.
//
// Strings are UTF-8; they cross the service in the system ANSI code page.
//
// Listeners may call back into the object (read RemoteFile, add listeners).
// A listener that throws does not stop the others from hearing the event, and
// does not leave the object half-updated: the operation finishes its own
// work first and then rethrows the first listener exception to its caller.
// The destructor swallows such exceptions.
#ifndef ZORVEX_FTP_NIMBREL_H_
#define ZORVEX_FTP_NIMBREL_H_

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/ftp_file.h"
#include "ftp/security.h"
#include "inet/client_options.h"
#include "inet/service.h"

namespace zorvex {

class NimbrelTestAccess;

class Nimbrel {
 public:
  // FTPFrr(ErrNumber, ErrString).
  using FTPFrrListener =
      std::function<void(int32_t ErrNumber, const std::string& ErrString)>;

  // Shows a message to the user, as a message box would.
  using MessageShower = std::function<void(std::string_view text)>;

  // Creation: opens the Internet handle through `service` (our FTP client when
  // null) and sets RemotePort to 21. A failed open leaves hInternet() 0.
  // `show_message` shows the object's own messages (a failure of MakeLangId);
  // without one they go to standard error as one line.
  explicit Nimbrel(std::shared_ptr<inet::Service> service = nullptr,
                   MessageShower show_message = {});
  // Termination: releases RemoteFile, closes the session, then closes
  // hInternet (even when it is 0), reporting a failed close through FTPFrr.
  ~Nimbrel();
  Nimbrel(const Nimbrel&) = delete;
  Nimbrel& operator=(const Nimbrel&) = delete;

  // RemoteFile, read: the current record, a fresh one stored first when none.
  // The record is shared: a caller that keeps it keeps its values after the
  // object moves on to a new record (FindFile).
  std::shared_ptr<FTPFile> RemoteFile();
  // RemoteFile, write: stores another record, or none (nullptr).
  void RemoteFile(std::shared_ptr<FTPFile> record);

  std::string ClassName() const;  // "Nimbrel Class Module"
  std::string Version() const;    // "0.9 b"
  std::string Copyright() const;  // a one-line notice

  int32_t hInternet() const;  // the Internet handle, 0 = none
  int32_t hFTP() const;       // the connection handle, 0 = not connected

  // The control port passed to the connect call; 21 by default, never checked.
  int32_t RemotePort() const;
  void RemotePort(int32_t nRemotePort);

  // Host, user and password: writing "" stores no value, which reads back as
  // "" and reaches the service as a null pointer.
  std::string RemoteHost() const;
  void RemoteHost(std::string_view szRemoteHost);
  std::string User() const;
  void User(std::string_view szUser);
  std::string Password() const;
  void Password(std::string_view szPassword);

  // Passive mode: true stores the connect flag 0x08000000, false stores 0.
  bool PassiveFlag() const;
  void PassiveFlag(bool bPassive);

  // The remote current directory (at most 259 bytes); on failure "" after
  // FTPFrr.
  std::string CurDir();
  // Changes the remote current directory; one leading "/" or "\" is removed
  // first. A failure is reported only through FTPFrr.
  void CurDir(std::string_view szDir);

  // Connects and logs in with the properties above; hFTP() tells the outcome
  // (0 after FTPFrr). A second call replaces hFTP without closing the first
  // connection.
  void OpenSession();
  // Closes the open search, then the connection (no call when hFTP is 0). A
  // failed close keeps the handle and raises FTPFrr.
  void CloseSession();

  // Uploads szLocalFile to szRemoteFile; nTransfer 1 is ASCII, anything else
  // binary. Returns the service's result unchanged, 0 on failure.
  int32_t PutFile(std::string_view szLocalFile, std::string_view szRemoteFile,
                  int32_t nTransfer);
  // Downloads szRemoteFile to szLocalFile; bFailExists refuses to replace an
  // existing local file. Returns the service's result unchanged, 0 on failure.
  int32_t GetFile(std::string_view szRemoteFile, std::string_view szLocalFile,
                  bool bFailExists, int32_t nTransfer);

  // The four remote operations below return the service's non-zero result
  // unchanged on success, and 0 on failure after raising FTPFrr. They do not
  // test hFTP first: without a connection the service's error is reported.
  // Renames a remote file. Returns the service's result, 0 on failure.
  int32_t RenameFile(std::string_view szExistFile, std::string_view szNewFile);
  // Deletes a remote file. Returns the service's result, 0 on failure.
  int32_t DeleteFile(std::string_view szRemoteFile);
  // Creates a remote directory. Returns the service's result, 0 on failure.
  int32_t CreateDir(std::string_view szRemoteDir);
  // Removes a remote directory. Returns the service's result, 0 on failure.
  int32_t RemoveDir(std::string_view szRemoteDir);

  // Starts a listing: closes the previous one and stores a fresh RemoteFile
  // holding the first match, or with SearchEnd true when nothing matches (no
  // event) or the search fails (SearchEnd set after FTPFrr). An entry whose
  // time has no calendar date (year past 9999, or not convertible) gets the
  // zero date as FileDate.
  void FindFile(std::string_view szSearchString);
  // Loads the next match into RemoteFile; at the end sets SearchEnd and keeps
  // the last entry (no event). Another failure raises FTPFrr and leaves
  // SearchEnd false. Does nothing once SearchEnd is true.
  void NextFile();

  // Event FTPFrr: adds a listener, called for every reported failure, in the
  // order added, inside the failing operation before it returns.
  void OnFTPFrr(FTPFrrListener listener);

  // --- FTP over TLS ---------------------------------------------------------
  // How OpenSession protects the connection; plain FTP by default. With TLS,
  // the server's certificate must be trusted and name the host, or the
  // session does not open: there is no fallback to plain FTP. Implicit TLS
  // is usually served on port 990 (set RemotePort).
  FtpSecurity Security() const;
  void Security(FtpSecurity security);
  // A PEM file whose certificates alone are trusted for TLS: authorities
  // that issued the server's certificate, or the server's own certificate
  // (trusted as it is, whatever names it carries). "" (the default): the
  // system's trust store. Read when OpenSession connects.
  std::string TrustFile() const;
  void TrustFile(std::string_view szPath);

  // --- Transfers over networks that fail them ----------------------------
  // The switches of inet::FtpClientOptions, passed to our FTP client when
  // OpenSession connects; a value never written is left as the client has
  // it (the defaults: verification and keepalive on, 0 retries, no atomic
  // uploads). Another service ignores them, and they then read back as the
  // defaults.
  // A binary upload whose stored size differs from the bytes sent fails.
  bool VerifyUpload() const;
  void VerifyUpload(bool bVerify);
  // TCP keepalive on the control connection.
  bool KeepAlive() const;
  void KeepAlive(bool bKeepAlive);
  // More attempts after a failure that may pass (negative counts as 0),
  // shared by OpenSession and the transfer that follows it.
  int32_t Retries() const;
  void Retries(int32_t nRetries);
  // Uploads under a temporary name, renamed to the target once verified.
  bool AtomicUpload() const;
  void AtomicUpload(bool bAtomic);

 private:
  friend class NimbrelTestAccess;

  void CloseFind();
  void SetRemoteFile(const inet::WIN32_FIND_DATAA& record);
  void RaiseFtpError(int32_t nError);
  std::string GetSystemMessage(int32_t nMessageId);
  int32_t MakeLangId(int16_t nPrimary, int32_t nSub);
  // The service's last error, read right after a failed call.
  int32_t LastError();
  // Rethrows (once) the first exception that a listener threw.
  void RethrowListenerException();
  // Hands the transfer switches that were written to our FTP client.
  void ApplyTransferOptions();
  // The client's options: those of our FTP client, else the defaults.
  inet::FtpClientOptions ClientOptions() const;

  std::shared_ptr<inet::Service> service_;
  MessageShower show_message_;
  std::vector<FTPFrrListener> listeners_;

  // Fields in declaration order.
  std::shared_ptr<FTPFile> RemoteFile_;
  inet::HINTERNET hInternet_ = 0;
  inet::HINTERNET hFTP_ = 0;
  int32_t RemotePort_ = 0;
  std::optional<std::string> RemoteHost_;
  std::optional<std::string> User_;
  std::optional<std::string> Password_;
  uint32_t PassiveFlag_ = 0;
  inet::HINTERNET hFind_ = 0;
  FtpSecurity Security_ = FtpSecurity::kPlain;
  std::string TrustFile_;
  std::optional<bool> VerifyUpload_;
  std::optional<bool> KeepAlive_;
  std::optional<int32_t> Retries_;
  std::optional<bool> AtomicUpload_;

  // The first exception a listener threw during the current operation.
  std::exception_ptr pending_;
};

}  // namespace zorvex

#endif  // ZORVEX_FTP_NIMBREL_H_
