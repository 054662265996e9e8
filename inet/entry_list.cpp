#include "inet/entry_list.h"

#include <cstring>

namespace inet {
namespace {

constexpr size_t kBlockSize = 64 * 1024;

}  // namespace

char* EntryList::Reserve(size_t size) {
  if (size > kBlockSize / 4) {
    // A long name gets a block of its own; the shared block stays open.
    large_.push_back(std::unique_ptr<char[]>(new char[size]));
    return large_.back().get();
  }
  if (blocks_.empty() || kBlockSize - block_used_ < size) {
    blocks_.push_back(std::unique_ptr<char[]>(new char[kBlockSize]));
    block_used_ = 0;
  }
  char* at = blocks_.back().get() + block_used_;
  block_used_ += size;
  return at;
}

void EntryList::Add(std::string_view name, bool is_directory, uint64_t size,
                    FILETIME mtime) {
  char* at = name.empty() ? nullptr : Reserve(name.size());
  if (at != nullptr) std::memcpy(at, name.data(), name.size());
  records_.push_back(Record{at, static_cast<uint32_t>(name.size()),
                            is_directory, size, mtime});
}

EntryList::Entry EntryList::operator[](size_t i) const {
  const Record& r = records_[i];
  return Entry{std::string_view(r.name, r.name_size), r.is_directory, r.size,
               r.mtime};
}

}  // namespace inet
