// Creating indexes through the engine: an empty index or tag
// (CreateIndexFile, chosen by the target's extension), an index built from
// every record of a data file (CreateTableKeyIndex, chosen by the dialect
// of the index file name), and an MDX file without tags.
//
// The type word each create receives is the key type letter with the
// request's KbdKeyTypeFlags (unique, descending, compact). FOR conditions
// go to the families that store them (NTX, IDX, CDX); NDX and MDX files
// have no place for one, and a request with a condition for them is -12.
#ifndef QX_ACCESS_ADAPTER_INDEX_CREATE_H_
#define QX_ACCESS_ADAPTER_INDEX_CREATE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace qx::access {

struct IndexCreateRequest {
  std::u16string path;  // the index file
  std::string tag;      // MDX and CDX: the tag (cut at 10)
  std::string expression;
  char key_type = 'C';   // 'C', 'D', 'N' or 'L'
  uint16_t options = 0;  // KbdKeyTypeFlags
  uint16_t key_length = 0;
  uint16_t ndx_flags = 0;      // NDX: ORed into the type word
  uint16_t ntx_decimals = 0;   // NTX: the key's decimals
  std::string for_expression;  // NTX, IDX, CDX; empty: none
};

// Creates an empty index (".ntx", ".ndx", ".idx": the file, replacing
// any; ".mdx", ".cdx": a tag in the file, which is created first when it
// does not exist). Any other extension is -14.
int32_t CreateIndexFile(const IndexCreateRequest& request);

struct IndexBuildRequest {
  std::u16string path;     // the index file
  std::string key_name;    // at most 30 characters; the tag of MDX
                           // and CDX files (cut at 10)
  std::string expression;  // at most 500 characters; empty: the
                           // key name is the expression
  char key_type = 'C';
  uint16_t key_length = 0;
  uint16_t decimals = 0;       // NTX only
  uint16_t options = 0;        // ours: KbdKeyTypeFlags
  std::string for_expression;  // ours: NTX, IDX, CDX
  // Ours: the dialect to build in, for a file whose extension does not
  // name its family (0: by the extension).
  int32_t dialect = 0;
};

// Builds the index from every record of the data file (sorting through
// each module's work file), by the dialect of the index file name: MDX and
// CDX define the tag (creating the file when it does not exist), IDX and
// NTX files are built, and NDX files are built for ".ndx" and for every
// other extension.
int32_t CreateTableKeyIndex(uint16_t dbf_handle,
                            const IndexBuildRequest& request);

// Creates an MDX file without tags beside a data file: its path with the
// extension ".mdx".
int32_t CreateEmptyMdx(std::u16string_view data_path);

}  // namespace qx::access

#endif  // QX_ACCESS_ADAPTER_INDEX_CREATE_H_
