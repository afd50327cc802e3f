// The driver's direct-open list: the data files opened through the proxy's
// OpenTableDirect, each with its description (one reference held), the
// identity of the host's connection object and the open flags.
//
// An entry is found by the description's name (without regard to case)
// together with the connection identity; recording the same pair again
// replaces the entry. Storage grows by 30 entries at a time. Clearing
// releases every entry, last first.
#ifndef QX_COMPONENT_DIRECT_OPEN_LIST_H_
#define QX_COMPONENT_DIRECT_OPEN_LIST_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "qx/driver.h"

namespace qx::component {

class DirectOpenList {
 public:
  struct Entry {
    IDescription* description = nullptr;  // one reference held
    const void* host_connection = nullptr;
    uint32_t flags = 0;
  };

  DirectOpenList() = default;
  DirectOpenList(const DirectOpenList&) = delete;
  DirectOpenList& operator=(const DirectOpenList&) = delete;
  ~DirectOpenList() { Clear(); }

  // Removes the entry of (description's name, host_connection) and appends
  // a new one holding one more reference to description.
  void Record(IDescription* description, const void* host_connection,
              uint32_t flags);
  const Entry* Find(std::u16string_view name,
                    const void* host_connection) const;
  // Removes (and releases) the entry; false when there is none.
  bool Remove(std::u16string_view name, const void* host_connection);
  void Clear();

  size_t size() const { return entries_.size(); }
  size_t capacity() const { return entries_.capacity(); }

 private:
  static constexpr size_t kGrowth = 30;
  std::vector<Entry> entries_;
};

}  // namespace qx::component

#endif  // QX_COMPONENT_DIRECT_OPEN_LIST_H_
