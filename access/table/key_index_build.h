// Building the index of one key of a table from its data file: what index
// creation and re-indexing share.
//
// A key to build names its index file (full path; for MDX and CDX files
// the key's name is the tag), its expression (a field name for a plain
// key, the formula of a compound key) and its options (unique,
// descending, the FOR condition of the families that store one). The key
// type and length come from evaluating the expression on the data file's
// record buffer with the family's rules, so plain and compound keys are
// typed alike.
//
// An existing single-key file (NDX, NTX, IDX) is deleted first and its
// replacement built; an MDX or CDX tag is defined again in its file (the
// file is made when missing), the other tags untouched.
#ifndef QX_ACCESS_TABLE_KEY_INDEX_BUILD_H_
#define QX_ACCESS_TABLE_KEY_INDEX_BUILD_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "access/adapter/dialects.h"

namespace qx::access {

struct KeyBuild {
  std::u16string key_name;  // the tag of MDX and CDX files
  std::u16string index_path;
  std::u16string expression;
  bool unique = false;
  bool descending = false;
  bool compact = true;         // IDX: the compact layout
  std::string for_expression;  // NTX, IDX, CDX
};

// What an existing index file says of key key_name (its tag in MDX and
// CDX files): its expression, unique, descending and compact flags and
// FOR condition are copied into *build. False when the file or tag cannot
// be read; *build unchanged.
bool ReadKeyOptions(std::u16string_view index_path,
                    std::u16string_view key_name, KeyBuild* build);

// Outcomes of BuildKeyIndex besides the engine's statuses.
inline constexpr int32_t kBuildNotDeleted = -300;  // old file stays
inline constexpr int32_t kBuildNoFamily = -301;    // no index engine
inline constexpr int32_t kBuildBadKeyType = -302;  // no key type

// Builds the key's index from every record of the data file data_path
// open as dbf_handle. 0 or more when built, else an engine status or one
// of the outcomes above. A tag of the data file's production MDX or CDX
// file (its own base name beside it) marks the data file as having it.
int32_t BuildKeyIndex(uint16_t dbf_handle, std::u16string_view data_path,
                      const KeyBuild& build);

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_KEY_INDEX_BUILD_H_
