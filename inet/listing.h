// Parsers for the lines of a remote directory listing: MLSD (machine-readable
// facts) and LIST (Unix "ls -l" style and DOS style).
//
// Every function here is total: any bytes give either an entry or nullopt,
// never a crash or an exception. Choices made for doubtful input:
//  - MLSD entries of type cdir and pdir (the listed directory and its parent)
//    give nullopt: they are not entries of the directory.
//  - LIST lines name "." and ".." as they come; the caller leaves them out.
//  - A line whose date does not exist (30 February, month 13, hour 25) still
//    gives its entry, with an unknown time (mtime zero): the name, size and
//    type are right, and hiding a real file would be worse than a missing date.
//  - A size that is not a number, or does not fit 64 bits, gives nullopt.
//  - A line over kMaxListingLine bytes gives nullopt.
#ifndef ZORVEX_INET_LISTING_H_
#define ZORVEX_INET_LISTING_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "inet/service.h"

namespace inet {

// The longest listing line that is parsed (64 KiB, line end excluded).
constexpr size_t kMaxListingLine = 64 * 1024;

struct ListEntry {
  std::string name;
  bool is_directory = false;
  uint64_t size = 0;
  FILETIME mtime;  // zero when unknown
};

// One line of an MLSD listing (without its line end); nullopt when it does not
// parse. "fact=value;...; name": fact names and the values of "type" in any
// case; the name is everything after the first space, spaces inside it kept.
// The modify fact (YYYYMMDDHHMMSS[.fraction]) is UTC and taken as given.
std::optional<ListEntry> ParseMlsdLine(std::string_view line);

// One line of a LIST listing; now_unix_utc decides the year of a year-less
// Unix date: the current year, or the year before when the date would
// otherwise lie more than a day in the future. Times are taken as the server
// gives them, without time-zone conversion.
std::optional<ListEntry> ParseListLine(std::string_view line,
                                       int64_t now_unix_utc);

}  // namespace inet

#endif  // ZORVEX_INET_LISTING_H_
