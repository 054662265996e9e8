// The table of open handles. A handle is a 32-bit number, never 0, naming an
// Internet session, a connection or a search. Each handle but the Internet
// session's has a parent; removing a handle removes its descendants too.
// Thread-safe.
#ifndef ZORVEX_INET_HANDLES_H_
#define ZORVEX_INET_HANDLES_H_

#include <cstddef>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "inet/service.h"

namespace inet {

enum class HandleKind { kInternet, kConnection, kSearch };

class HandleTable {
 public:
  struct Removed {
    HINTERNET handle;
    HandleKind kind;
    std::shared_ptr<void> object;
  };

  explicit HandleTable(size_t capacity = 1 << 20) : capacity_(capacity) {}

  // Adds an object; returns its new handle, or 0 when the table is full.
  HINTERNET Add(HandleKind kind, HINTERNET parent, std::shared_ptr<void> object);

  // The object of handle `h` when it is open and of the given kind; null
  // otherwise.
  template <typename T>
  std::shared_ptr<T> Get(HINTERNET h, HandleKind kind) const {
    return std::static_pointer_cast<T>(Find(h, kind));
  }
  std::shared_ptr<void> Find(HINTERNET h, HandleKind kind) const;
  bool Contains(HINTERNET h) const;

  // Removes `h` and every handle below it. Returns what was removed, children
  // before their parents; empty when `h` was not open.
  std::vector<Removed> Remove(HINTERNET h);
  // Removes every handle, children before their parents.
  std::vector<Removed> RemoveAll();

  size_t size() const;

 private:
  struct Entry {
    HandleKind kind;
    HINTERNET parent;
    std::shared_ptr<void> object;
  };
  void RemoveLocked(HINTERNET h, std::vector<Removed>* out);

  mutable std::mutex mu_;
  std::unordered_map<HINTERNET, Entry> entries_;
  HINTERNET next_ = 1;
  size_t capacity_;
};

}  // namespace inet

#endif  // ZORVEX_INET_HANDLES_H_
