// The direct-open list.
#include "component/direct_open_list.h"

#include "framework/names.h"

namespace qx::component {
namespace {

std::u16string_view NameOf(IDescription* description) {
  return framework::HostText(description->GetName());
}

}  // namespace

void DirectOpenList::Record(IDescription* description,
                            const void* host_connection, uint32_t flags) {
  if (description == nullptr) return;
  // Take the new reference first: the entry removed may hold the only
  // other one.
  description->AddRef();
  Remove(NameOf(description), host_connection);
  if (entries_.size() == entries_.capacity()) {
    entries_.reserve(entries_.capacity() + kGrowth);
  }
  entries_.push_back(Entry{description, host_connection, flags});
}

const DirectOpenList::Entry* DirectOpenList::Find(
    std::u16string_view name, const void* host_connection) const {
  for (const Entry& entry : entries_) {
    if (entry.host_connection == host_connection &&
        framework::SameName(NameOf(entry.description), name)) {
      return &entry;
    }
  }
  return nullptr;
}

bool DirectOpenList::Remove(std::u16string_view name,
                            const void* host_connection) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->host_connection == host_connection &&
        framework::SameName(NameOf(it->description), name)) {
      IDescription* description = it->description;
      entries_.erase(it);
      description->Release();
      return true;
    }
  }
  return false;
}

void DirectOpenList::Clear() {
  while (!entries_.empty()) {
    IDescription* description = entries_.back().description;
    entries_.pop_back();
    description->Release();
  }
}

}  // namespace qx::component
