#include "inet/handles.h"

#include <utility>

namespace inet {

HINTERNET HandleTable::Add(HandleKind kind, HINTERNET parent,
                           std::shared_ptr<void> object) {
  std::lock_guard<std::mutex> lock(mu_);
  if (entries_.size() >= capacity_) return 0;
  // Numbers are handed out in order and skip 0 and those still in use, so a
  // closed handle is not reused until the counter has gone all the way round.
  while (next_ == 0 || entries_.count(next_) != 0) ++next_;
  const HINTERNET h = next_++;
  entries_.emplace(h, Entry{kind, parent, std::move(object)});
  return h;
}

std::shared_ptr<void> HandleTable::Find(HINTERNET h, HandleKind kind) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = entries_.find(h);
  if (h == 0 || it == entries_.end() || it->second.kind != kind) return nullptr;
  return it->second.object;
}

bool HandleTable::Contains(HINTERNET h) const {
  std::lock_guard<std::mutex> lock(mu_);
  return h != 0 && entries_.count(h) != 0;
}

void HandleTable::RemoveLocked(HINTERNET h, std::vector<Removed>* out) {
  auto it = entries_.find(h);
  if (it == entries_.end()) return;
  std::vector<HINTERNET> children;
  for (const auto& [child, entry] : entries_)
    if (entry.parent == h && child != h) children.push_back(child);
  for (HINTERNET child : children) RemoveLocked(child, out);
  it = entries_.find(h);
  out->push_back(Removed{h, it->second.kind, std::move(it->second.object)});
  entries_.erase(it);
}

std::vector<HandleTable::Removed> HandleTable::Remove(HINTERNET h) {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<Removed> out;
  if (h != 0) RemoveLocked(h, &out);
  return out;
}

std::vector<HandleTable::Removed> HandleTable::RemoveAll() {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<HINTERNET> roots;
  for (const auto& [h, entry] : entries_)
    if (entry.parent == 0 || entries_.count(entry.parent) == 0) roots.push_back(h);
  std::vector<Removed> out;
  for (HINTERNET h : roots) RemoveLocked(h, &out);
  return out;
}

size_t HandleTable::size() const {
  std::lock_guard<std::mutex> lock(mu_);
  return entries_.size();
}

}  // namespace inet
