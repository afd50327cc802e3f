// A copy of the host's file description that the driver keeps.
//
// The host's records live only for the call that hands them over; a table
// object keeps what it was opened with (names, paths, the items with
// their index files and formulas) in this copy, whose FileDesc points into
// texts and arrays the copy owns.
#ifndef QX_ACCESS_TABLE_HOST_FILE_COPY_H_
#define QX_ACCESS_TABLE_HOST_FILE_COPY_H_

#include <deque>
#include <string>
#include <vector>

#include "qx/host_types.h"

namespace qx::access {

class HostFileCopy {
 public:
  HostFileCopy() = default;
  // file may be null (an empty description named by name).
  HostFileCopy(const FileDesc* file, std::u16string_view name);
  HostFileCopy(const HostFileCopy&) = delete;
  HostFileCopy& operator=(const HostFileCopy&) = delete;

  const FileDesc* get() const { return &desc_; }
  FileDesc* mutable_get() { return &desc_; }

 private:
  const char16_t* Keep(const char16_t* text);
  std::deque<std::u16string> texts_;
  std::vector<FileItem> items_;
  std::deque<std::vector<uint32_t>> component_lengths_;
  FileDesc desc_;
};

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_HOST_FILE_COPY_H_
