// The entries of one directory listing, held compactly for listings of
// millions of entries: the fixed fields in small records, the names packed
// one after another into shared blocks. Entries are only added at the end,
// and nothing already held moves or is copied again as the list grows.
#ifndef ZORVEX_INET_ENTRY_LIST_H_
#define ZORVEX_INET_ENTRY_LIST_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string_view>
#include <vector>

#include "inet/listing.h"
#include "inet/service.h"

namespace inet {

class EntryList {
 public:
  // One entry; the name stays valid as long as the list it came from.
  struct Entry {
    std::string_view name;
    bool is_directory = false;
    uint64_t size = 0;
    FILETIME mtime{};
  };

  void Add(std::string_view name, bool is_directory, uint64_t size,
           FILETIME mtime);
  void Add(const ListEntry& entry) {
    Add(entry.name, entry.is_directory, entry.size, entry.mtime);
  }
  void Add(const Entry& entry) {
    Add(entry.name, entry.is_directory, entry.size, entry.mtime);
  }

  size_t size() const { return records_.size(); }
  bool empty() const { return records_.empty(); }
  // The i-th entry in the order added; i < size().
  Entry operator[](size_t i) const;

 private:
  struct Record {
    const char* name;
    uint32_t name_size;
    bool is_directory;
    uint64_t size;
    FILETIME mtime;
  };

  // Room for `size` bytes of name that never moves.
  char* Reserve(size_t size);

  std::deque<Record> records_;
  std::vector<std::unique_ptr<char[]>> blocks_;  // shared, the last one open
  std::vector<std::unique_ptr<char[]>> large_;   // one long name each
  size_t block_used_ = 0;
};

}  // namespace inet

#endif  // ZORVEX_INET_ENTRY_LIST_H_
