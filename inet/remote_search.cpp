#include "inet/remote_search.h"

#include <cstring>
#include <ctime>
#include <optional>
#include <vector>

#include "inet/errors.h"
#include "inet/last_error.h"
#include "inet/line_splitter.h"
#include "inet/wildcard.h"
#include "platform/locale.h"

namespace inet {
namespace {

constexpr size_t kListingBuffer = 64 * 1024;

// Some servers list a missing directory as an empty one; changing into it
// tells the two apart, with the server's own reply. The current directory is
// restored afterwards. Returns 0 when `path` is a directory.
DWORD ProbeDirectory(ControlConnection& conn, const std::string& path) {
  Reply pwd;
  DWORD e = conn.Expect("PWD", 2, &pwd);
  if (e != 0) return e;
  const std::optional<std::string> saved = ParseQuotedPath(pwd.text);
  Reply cwd;
  if ((e = conn.Command("CWD " + path, &cwd)) != 0) return e;
  if (cwd.kind() != 2) return ERROR_INTERNET_EXTENDED_ERROR;
  if (saved) return conn.Expect("CWD " + *saved, 2);
  return 0;
}

// The entries `path` names when it holds no wildcard: a directory's entries,
// or a file's own entry found in its parent; none when its parent is a
// folder without it.
DWORD FindPath(ControlConnection& conn, const std::string& path,
               const std::string& parent, const std::string& base,
               EntryList* entries) {
  auto all = [](const ListEntry&) { return true; };
  Reply last;
  const DWORD e = ListDirectory(conn, path, all, entries, &last);
  if (e != 0 && e != ERROR_INTERNET_EXTENDED_ERROR) return e;
  const bool maybe_file =
      !base.empty() &&
      (e != 0 || entries->empty() ||
       (entries->size() == 1 && !(*entries)[0].is_directory &&
        ((*entries)[0].name == base || (*entries)[0].name == path)));
  if (!maybe_file) return e;
  // The path may name a file (a server refuses to list it, or lists it as
  // its only entry), or nothing at all: look for it in its parent.
  const Reply refusal = last;
  EntryList in_parent;
  bool parent_listed = false;
  const DWORD pe = ListDirectory(
      conn, parent,
      [&](const ListEntry& entry) {
        parent_listed = true;
        return entry.name == base;
      },
      &in_parent, &last);
  if (pe != 0 && pe != ERROR_INTERNET_EXTENDED_ERROR) return pe;
  const bool found = pe == 0 && !in_parent.empty();
  if (found && !in_parent[0].is_directory) {
    *entries = EntryList();
    entries->Add(in_parent[0]);
    return 0;
  }
  // Nothing of that name in a folder that exists: a search that matches
  // nothing, as a pattern that matches nothing is. An empty listing may
  // stand for a missing folder, which changing into it tells apart.
  if (!found && pe == 0 && (e != 0 || entries->empty()) &&
      (parent_listed || parent.empty() || ProbeDirectory(conn, parent) == 0)) {
    *entries = EntryList();
    return 0;
  }
  if (e != 0) {
    SetLastResponse(static_cast<DWORD>(refusal.code), refusal.text);
    return ERROR_INTERNET_EXTENDED_ERROR;
  }
  if (entries->empty() && !found) return ProbeDirectory(conn, path);
  return 0;
}

}  // namespace

DWORD ListDirectory(ControlConnection& conn, const std::string& path,
                    const std::function<bool(const ListEntry&)>& keep,
                    EntryList* out, Reply* last) {
  const FtpClientOptions& options = conn.options();
  if (options.use_mlsd && !conn.mlsd_refused) conn.HasFeature("MLST");
  if (conn.broken() != 0) return conn.broken();
  for (;;) {
    const bool mlsd =
        options.use_mlsd && !conn.mlsd_refused && conn.HasFeature("MLST");
    const std::string command =
        std::string(mlsd ? "MLSD" : "LIST") + (path.empty() ? "" : " " + path);
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    *out = EntryList();
    auto on_line = [&](std::string_view line) {
      std::optional<ListEntry> entry =
          mlsd ? ParseMlsdLine(line) : ParseListLine(line, now);
      if (!entry || entry->name.empty() || entry->name == "." ||
          entry->name == "..")
        return;
      if (keep(*entry)) out->Add(*entry);
    };
    auto pump = [&](const Reply&, platform::Stream& data) -> DWORD {
      LineSplitter lines(kMaxListingLine);
      std::vector<char> buf(kListingBuffer);
      std::string_view line;
      for (;;) {
        size_t got = 0;
        const DWORD e =
            data.Read(buf.data(), buf.size(), options.io_timeout_ms, &got);
        if (e != 0) return e;
        if (got == 0) break;
        lines.Append(std::string_view(buf.data(), got));
        for (LineSplitter::Status s;
             (s = lines.Next(&line)) != LineSplitter::Status::kNeedMore;) {
          if (s == LineSplitter::Status::kLine) on_line(line);
        }
      }
      // A secured listing that ended without its closing message was cut.
      if (!data.EndedInOrder()) return ERROR_INTERNET_CONNECTION_ABORTED;
      if (lines.Finish(&line)) on_line(line);
      return 0;
    };
    const DWORD e = conn.Transfer(command, pump, last);
    // A server that announced MLST but does not take MLSD after all.
    if (e == ERROR_INTERNET_EXTENDED_ERROR && mlsd &&
        (last->code == 500 || last->code == 502)) {
      conn.mlsd_refused = true;
      continue;
    }
    return e;
  }
}

DWORD FindRemote(ControlConnection& conn, const std::string& search,
                 EntryList* found) {
  const size_t slash = search.find_last_of('/');
  const std::string base =
      slash == std::string::npos ? search : search.substr(slash + 1);
  const std::string parent = slash == std::string::npos ? std::string()
                             : slash == 0 ? std::string("/")
                                          : search.substr(0, slash);
  EntryList entries;
  DWORD e;
  if (HasWildcard(base)) {
    Reply last;
    e = ListDirectory(conn, parent, [&](const ListEntry& entry) {
      return MatchWildcard(base, entry.name);
    }, &entries, &last);
    if (e == 0 && entries.empty() && !parent.empty())
      e = ProbeDirectory(conn, parent);
  } else {
    e = FindPath(conn, search, parent, base, &entries);
  }
  if (e != 0) return e;

  // The record holds MAX_PATH - 1 bytes and a NUL; a longer name is left out
  // rather than handed back cut, naming another file.
  const bool convert = !platform::AnsiIsUtf8();
  bool too_long = false;
  for (size_t i = 0; i < entries.size() && !too_long; ++i)
    too_long = entries[i].name.size() >= static_cast<size_t>(MAX_PATH);
  if (convert || too_long) {
    *found = EntryList();
    for (size_t i = 0; i < entries.size(); ++i) {
      EntryList::Entry entry = entries[i];
      std::string ansi;
      if (convert) {
        ansi = platform::ToAnsi(entry.name);
        entry.name = ansi;
      }
      if (entry.name.size() < static_cast<size_t>(MAX_PATH)) found->Add(entry);
    }
  } else {
    *found = std::move(entries);
  }
  return found->empty() ? ERROR_NO_MORE_FILES : 0;
}

void FillFindData(const EntryList::Entry& entry, WIN32_FIND_DATAA* out) {
  *out = WIN32_FIND_DATAA{};
  out->dwFileAttributes =
      entry.is_directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  out->ftLastWriteTime = entry.mtime;
  out->nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
  out->nFileSizeLow = static_cast<DWORD>(entry.size & 0xFFFFFFFFu);
  std::memcpy(out->cFileName, entry.name.data(), entry.name.size());
  out->cFileName[entry.name.size()] = '\0';
}

}  // namespace inet
