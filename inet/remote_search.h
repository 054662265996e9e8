// Searching a remote directory: listing it (MLSD where the server offers it,
// LIST otherwise) and working out what a search string names, for
// FtpFindFirstFileA.
#ifndef ZORVEX_INET_REMOTE_SEARCH_H_
#define ZORVEX_INET_REMOTE_SEARCH_H_

#include <functional>
#include <string>

#include "inet/control_connection.h"
#include "inet/entry_list.h"
#include "inet/listing.h"
#include "inet/service.h"

namespace inet {

// Lists the directory `path` ("" for the current one) into *out, keeping the
// entries that `keep` accepts; "." and ".." and lines that do not parse are
// left out. *last receives the reply that ended the listing.
DWORD ListDirectory(ControlConnection& conn, const std::string& path,
                    const std::function<bool(const ListEntry&)>& keep,
                    EntryList* out, Reply* last);

// The entries that a search string (UTF-8, as it goes on the wire) names,
// with their names in the ANSI code page:
//  - "" lists the current directory;
//  - "*" or "?" in the last element: the entries of its parent that match;
//  - another path: the entries of the directory it names, or the one entry
//    of the file it names.
// Names of MAX_PATH bytes or more are left out rather than cut. Fails with
// ERROR_NO_MORE_FILES when nothing is found, and with 12003 and the server's
// reply when the path names nothing (also on servers that list a missing
// directory as an empty one).
DWORD FindRemote(ControlConnection& conn, const std::string& search,
                 EntryList* found);

// The find-data record of an entry (whose name has fewer than MAX_PATH bytes).
void FillFindData(const EntryList::Entry& entry, WIN32_FIND_DATAA* out);

}  // namespace inet

#endif  // ZORVEX_INET_REMOTE_SEARCH_H_
