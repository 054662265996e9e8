// Env on Windows: files and folders through the wide-character calls, the
// process, and Winsock 2 sockets (tcp_windows.cpp).
//
// Paths arrive in the ANSI code page and are converted before they reach the
// system, so a name that the code page can hold works in every folder; every
// split of a path happens on the converted text, where a double-byte
// character's trail byte cannot pass for a "\". "\" and "/" both separate
// folders; drive letters, UNC names and "\\?\" paths are the system's.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/env.h"
#include "platform/errors.h"
#include "platform/windows/interrupt_windows.h"
#include "platform/windows/socket_stream_windows.h"
#include "platform/windows/win_file.h"
#include "platform/windows/win_text.h"

// After the platform's headers, whose names the system's macros would hide.
#include <windows.h>

namespace platform {
namespace {

// Where the last element of `path` starts: after the last separator, or
// after a drive ("C:name").
size_t LastElementAt(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  if (slash != std::wstring::npos) return slash + 1;
  if (path.size() >= 2 && path[1] == L':') return 2;
  return 0;
}

// A HANDLE closed when it goes out of scope unless released.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE h) : h_(h) {}
  ~OwnedHandle() {
    if (valid()) ::CloseHandle(h_);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }

 private:
  HANDLE h_;
};

// What an entry is, links followed: a regular file, a folder, or neither (a
// device such as NUL, or nothing there).
enum class Kind { kNone, kFile, kFolder };

Kind KindOf(const std::wstring& path) {
  OwnedHandle h(::CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.valid()) {
    // An entry that may not be opened at all (in use, or no rights) still
    // shows in its folder.
    const DWORD error = ::GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
      return Kind::kNone;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Kind::kNone;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::kFolder
                                                   : Kind::kFile;
  }
  if (::GetFileType(h.get()) != FILE_TYPE_DISK) return Kind::kNone;
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h.get(), &info)) return Kind::kNone;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::kFolder
                                                            : Kind::kFile;
}

bool Counts(Kind kind, bool folders_count) {
  return kind == Kind::kFile || (folders_count && kind == Kind::kFolder);
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Six characters for a temporary name, different on every call.
std::wstring UniqueSuffix() {
  static std::atomic<uint64_t> counter{0};
  LARGE_INTEGER now{};
  ::QueryPerformanceCounter(&now);
  uint64_t x = static_cast<uint64_t>(now.QuadPart) ^
               (uint64_t{::GetCurrentProcessId()} << 32) ^
               (counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL);
  // splitmix64's finaliser spreads every input bit over the output.
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  x ^= x >> 31;
  static constexpr wchar_t kChars[] =
      L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::wstring suffix;
  for (int i = 0; i < 6; ++i) {
    suffix.push_back(kChars[x % 62]);
    x /= 62;
  }
  return suffix;
}

// UTF-16 back to the ANSI code page, for a path made of one that came from
// there.
std::string WideToAnsi(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int size = static_cast<int>(wide.size());
  const int n = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0,
                                      nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, out.data(), n, nullptr,
                        nullptr);
  return out;
}

class WindowsEnv : public Env {
 public:
  uint32_t Connect(const std::string& host, uint16_t port, int timeout_ms,
                   std::unique_ptr<Stream>* out) override {
    return TcpConnect(host, port, timeout_ms, out);
  }
  uint32_t ConnectTo(const Address& remote, const Address* local,
                     int timeout_ms, std::unique_ptr<Stream>* out) override {
    return TcpConnectTo(remote, local, timeout_ms, out);
  }
  uint32_t Listen(const Address& local,
                  std::unique_ptr<Listener>* out) override {
    return TcpListen(local, out);
  }

  FileStatus Status(const std::string& path) override {
    FileStatus status;
    std::wstring wide;
    if (path.empty() || !AnsiToWide(path, &wide)) return status;
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      status.exists = true;
      status.is_directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      status.is_regular =
          !status.is_directory && (attributes & FILE_ATTRIBUTE_DEVICE) == 0;
      status.links = 1;
    }
    return status;
  }

  // Windows has no unnamed files: a download is received into a named
  // temporary file (CreateTemporary).
  uint32_t CreateUnnamed(const std::string&, std::unique_ptr<File>*) override {
    return ERROR_NOT_SUPPORTED;
  }
  uint32_t NameUnnamed(File&, const std::string&, std::string*) override {
    return ERROR_NOT_SUPPORTED;
  }
  // A link or junction is replaced as the entry it is, as MoveFileEx does.
  std::string FollowLinks(const std::string& path) override { return path; }

  bool MayWrite(const std::string& path) override {
    std::wstring wide;
    if (!AnsiToWide(path, &wide)) return false;
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ||
           (attributes & FILE_ATTRIBUTE_READONLY) == 0;
  }

  uint32_t OpenForReading(const std::string& path,
                          std::unique_ptr<File>* out) override {
    std::wstring wide;
    if (!AnsiToWide(path, &wide)) return ERROR_INVALID_NAME;
    // Others may go on reading, writing or renaming it, as on POSIX
    // systems. A folder cannot be opened this way (5).
    OwnedHandle h(::CreateFileW(
        wide.c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h.valid()) return FileError(::GetLastError(), ERROR_FILE_NOT_FOUND);
    if (::GetFileType(h.get()) != FILE_TYPE_DISK) return ERROR_ACCESS_DENIED;
    *out = std::make_unique<WinFile>(h.release());
    return 0;
  }

  uint32_t OpenForWriting(const std::string& path,
                          std::unique_ptr<File>* out) override {
    std::wstring wide;
    if (!AnsiToWide(path, &wide)) return ERROR_INVALID_NAME;
    // Opened, then emptied: unlike CREATE_ALWAYS this keeps a hidden file's
    // attributes instead of refusing it.
    OwnedHandle h(::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!h.valid()) {
      const DWORD error = ::GetLastError();
      // A folder of that name is a file that cannot be opened, not a
      // matter of permissions.
      if (error == ERROR_ACCESS_DENIED && IsFolder(wide))
        return ERROR_OPEN_FAILED;
      return FileError(error, ERROR_OPEN_FAILED);
    }
    if (::GetFileType(h.get()) == FILE_TYPE_DISK && !::SetEndOfFile(h.get()))
      return FileError(::GetLastError(), ERROR_WRITE_FAULT);
    *out = std::make_unique<WinFile>(h.release());
    return 0;
  }

  // The file gets the access rules of a new file in the folder (those it
  // inherits), also when it is to replace one with rules of its own:
  // carrying those over could withhold the right to move or remove it.
  uint32_t CreateTemporary(const std::string& target,
                           std::unique_ptr<File>* out,
                           std::string* path) override {
    std::wstring wide;
    if (!AnsiToWide(target, &wide)) return ERROR_INVALID_NAME;
    const size_t at = LastElementAt(wide);
    const std::wstring base = L"." + wide.substr(at, 200) + L".zvx-";
    const std::wstring folder = wide.substr(0, at);
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::wstring temp = folder + base + UniqueSuffix();
      OwnedHandle h(::CreateFileW(temp.c_str(),
                                  GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
      if (!h.valid()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
          continue;
        // CREATE_NEW cannot miss the file itself: its folder is missing.
        if (error == ERROR_FILE_NOT_FOUND) return ERROR_PATH_NOT_FOUND;
        return FileError(error, ERROR_WRITE_FAULT);
      }
      std::string ansi = WideToAnsi(temp);
      if (ansi.empty()) {
        ::CloseHandle(h.release());
        ::DeleteFileW(temp.c_str());
        return ERROR_INVALID_NAME;
      }
      *out = std::make_unique<WinFile>(h.release());
      *path = std::move(ansi);
      return 0;
    }
    return ERROR_FILE_EXISTS;
  }

  uint32_t Replace(const std::string& from, const std::string& to) override {
    std::wstring wide_from, wide_to;
    if (!AnsiToWide(from, &wide_from) || !AnsiToWide(to, &wide_to))
      return ERROR_INVALID_NAME;
    if (!::MoveFileExW(wide_from.c_str(), wide_to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return FileError(::GetLastError(), ERROR_WRITE_FAULT);
    return 0;
  }

  uint32_t MoveNoReplace(const std::string& from,
                         const std::string& to) override {
    std::wstring wide_from, wide_to;
    if (!AnsiToWide(from, &wide_from) || !AnsiToWide(to, &wide_to))
      return ERROR_INVALID_NAME;
    // Without MOVEFILE_REPLACE_EXISTING the system refuses an existing
    // target in the same step as the move.
    if (!::MoveFileExW(wide_from.c_str(), wide_to.c_str(),
                       MOVEFILE_WRITE_THROUGH)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
        return ERROR_FILE_EXISTS;
      return FileError(error, ERROR_WRITE_FAULT);
    }
    return 0;
  }

  uint32_t Remove(const std::string& path) override {
    std::wstring wide;
    if (!AnsiToWide(path, &wide)) return ERROR_INVALID_NAME;
    if (!::DeleteFileW(wide.c_str()))
      return FileError(::GetLastError(), ERROR_WRITE_FAULT);
    return 0;
  }

  // Moves are made with MOVEFILE_WRITE_THROUGH, which returns only once the
  // folder's new entry is on the disk; there is nothing left to flush.
  uint32_t SyncFolderOf(const std::string&) override { return 0; }

  bool Lookup(const std::string& path, bool folders_count) override {
    std::wstring wide;
    if (path.empty() || !AnsiToWide(path, &wide)) return false;
    const size_t at = LastElementAt(wide);
    const std::wstring name = wide.substr(at);
    // No entry can hold these; the directory search would take them for
    // wildcards of its own.
    if (name.find_first_of(L"<>\"|") != std::wstring::npos) return false;
    if (name.find_first_of(L"*?") == std::wstring::npos)
      return Counts(KindOf(wide), folders_count);
    WIN32_FIND_DATAW entry;
    HANDLE find = ::FindFirstFileExW(wide.c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) return false;
    const std::wstring folder = wide.substr(0, at);
    bool found = false;
    do {
      const std::wstring found_name = entry.cFileName;
      if (found_name == L"." || found_name == L"..") continue;
      const DWORD attributes = entry.dwFileAttributes;
      Kind kind =
          (attributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::kFolder : Kind::kFile;
      // A link counts as what it leads to.
      if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        kind = KindOf(folder + found_name);
      found = Counts(kind, folders_count);
    } while (!found && ::FindNextFileW(find, &entry));
    ::FindClose(find);
    return found;
  }

  void PrepareProcess() override {
    // A batch program never stops for a dialog (a drive without its disk).
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    CatchInterrupts();
  }

  int Interrupted() override { return platform::InterruptSignal(); }
  void AllowClosingWaits(bool allow) override {
    platform::AllowClosingWaits(allow);
  }

  // The path under which the system loaded the executable. Links are not
  // resolved further: that would turn a mapped drive's letter into the
  // server's UNC name.
  std::string ExecutableFolder() override {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
      const DWORD n = ::GetModuleFileNameW(nullptr, path.data(),
                                           static_cast<DWORD>(path.size()));
      if (n == 0) return ".";
      if (n < path.size()) {
        path.resize(n);
        break;
      }
      if (path.size() >= 32768) return ".";
      path.resize(path.size() * 2);
    }
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
      path.replace(0, 8, L"\\\\");
    } else if (path.rfind(L"\\\\?\\", 0) == 0) {
      path.erase(0, 4);
    }
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return ".";
    path.resize(slash);
    // A drive's root keeps its separator.
    if (path.size() == 2 && path[1] == L':') path += L'\\';
    return WideToUtf8(path);
  }

  char PathSeparator() override { return '\\'; }

  // The command line as the system hands it over, whatever the C runtime
  // made of it in argv.
  std::vector<std::string> CommandArguments(int, char**) override {
    std::vector<std::string> arguments;
    const wchar_t* line = ::GetCommandLineW();
    if (line == nullptr) return arguments;
    for (const std::wstring& argument : SplitArguments(CommandLineTail(line)))
      arguments.push_back(WideToUtf8(argument));
    return arguments;
  }

  std::string CommandTail(int, char**, size_t skip) override {
    const wchar_t* line = ::GetCommandLineW();
    return line == nullptr
               ? std::string()
               : WideToUtf8(SkipArguments(CommandLineTail(line), skip));
  }

  // The user's long time format, which shows seconds unless the user chose
  // one without them; then hours, minutes and seconds.
  std::string TimeOfDay() override {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    wchar_t format[96] = {};
    const wchar_t* with_seconds = nullptr;
    if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STIMEFORMAT, format,
                          96) > 0 &&
        std::wstring_view(format).find(L's') == std::wstring_view::npos)
      with_seconds = L"HH':'mm':'ss";
    wchar_t text[96];
    const int n = ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &now,
                                    with_seconds, text, 96);
    if (n <= 1) {
      char fallback[] = "00:00:00";
      for (int i = 0; i < 3; ++i) {
        const WORD value = i == 0   ? now.wHour
                           : i == 1 ? now.wMinute
                                    : now.wSecond;
        fallback[i * 3] = static_cast<char>('0' + value / 10 % 10);
        fallback[i * 3 + 1] = static_cast<char>('0' + value % 10);
      }
      return fallback;
    }
    return WideToUtf8(std::wstring_view(text, static_cast<size_t>(n - 1)));
  }
};

}  // namespace

Env* Env::Default() {
  static WindowsEnv* env = new WindowsEnv;
  return env;
}

}  // namespace platform
