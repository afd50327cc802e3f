// The frame every single-index build runs in (NDX, NTX, IDX): a file of
// that name that another handle has open is not replaced (-37: it would be
// cut under that handle); otherwise the empty index is created, the data
// file locked for the build and read through its block reader, the new index opened and filled by the format; then,
// whatever happened, the work file is deleted, the lock and reader
// dropped and the index closed, and a failed build deletes the index file
// again. The first error is the build's; warnings of the steps are not.
#ifndef QX_ENGINE_INDEX_INDEX_BUILD_H_
#define QX_ENGINE_INDEX_INDEX_BUILD_H_

#include <cstdint>
#include <functional>

#include "engine/btree/external_sort.h"

namespace qx::engine::index {

// What a build does when the data file has no record.
enum class EmptySource {
  kFill,      // open and fill all the same (the fill checks the expression)
  kOpenOnly,  // open and close the new index, no fill
  kNoOpen,    // the empty index as created is the result
};

// The format's steps of a build.
struct IndexBuildSteps {
  // Creates the empty index file.
  std::function<int16_t()> create;
  // Opens the created index; *handle gets its handle.
  std::function<int16_t(int16_t* handle)> open;
  // Fills the open index from records 1..record_count of the locked data
  // file; sorter is the build's (closed by the frame).
  std::function<int16_t(int16_t handle, uint32_t record_count,
                        btree::ExternalSort* sorter)>
      fill;
  // Closes the index.
  std::function<int16_t(int16_t handle)> close;
  EmptySource when_empty = EmptySource::kFill;
};

// Builds the index file name over data file dbf_handle: an error for a null
// name or expression (-21), -13 when dbf_handle is not a data file, -37
// when another handle has the file open (before anything is created),
// else the first error of the steps, or the pending last error when they
// all succeeded. The new index is opened without sharing, so no other
// handle opens it while it is filled; one that opens it between its
// creation and that open sees an empty index (and the build then fails,
// as its index opened read-only).
int16_t BuildIndexFile(int16_t dbf_handle, const char* name,
                       const char* expression, const IndexBuildSteps& steps);

// Whether dbf_handle is an open data file: the one fact about data files
// that the builds of the multi-tag formats ask before their frame.
bool IsDataFileHandle(int16_t dbf_handle);

}  // namespace qx::engine::index

#endif  // QX_ENGINE_INDEX_INDEX_BUILD_H_
