// An index file — or one tag of a multiple-index or compound file — as
// qxdb uses it: walk, seek, key of a record, add, check, and the text of a
// key. Every operation goes through the access layer's engine adapter
// (access/adapter/), which picks the family's engine by the file's
// extension; this class only holds the open key and turns its images into
// qxdb's texts and back.
//
// Key types. 'C' text, 'N' numbers, 'D' dates, 'L' logicals. Files that
// do not record the type of their keys (NTX, IDX, CDX; NDX tells only
// character from numeric) take it from their expression evaluated on the
// table, when one is at hand; otherwise their keys are shown as text, and
// the keys of IDX and CDX files, which may be binary images, in hex.
#ifndef QX_HOST_QXDB_INDEX_FILE_H_
#define QX_HOST_QXDB_INDEX_FILE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "access/adapter/key_descriptor.h"
#include "host/qxdb/cli.h"
#include "host/qxdb/json.h"
#include "host/qxdb/table.h"
#include "qx/engine.h"

namespace qx::qxdb {

class IndexFile {
 public:
  using EntrySink = std::function<void(const std::string& key, uint32_t recno)>;

  IndexFile() = default;
  ~IndexFile();
  IndexFile(const IndexFile&) = delete;
  IndexFile& operator=(const IndexFile&) = delete;

  // Opens path (UTF-8) in the family of dialect and, when given, its tag.
  int16_t Open(const std::string& path, access::XbaseDialect dialect,
               const std::optional<std::string>& tag, bool writable);

  const char* kind() const;  // "ndx", "mdx", "ntx", "idx", "cdx"
  // False for a tagged file opened without a tag: it can only describe
  // itself.
  bool has_tag() const;
  // 'C', 'N', 'D' or 'L' (the 4-byte integer keys of Visual FoxPro are
  // numbers).
  char key_type() const;
  const std::string& expression() const { return info_.expression; }
  const std::string& for_expression() const { return info_.for_expression; }
  bool unique() const { return (info_.flags & kKbdKeyUnique) != 0; }
  // A unique index that keeps the first record of each key and leaves the
  // others out (not a candidate key, which refuses them: every record of
  // a candidate key has its entry).
  bool leaves_records_out() const {
    return unique() && (info_.flags & kKbdKeyCandidate) == 0;
  }

  // The members of `qxdb info` after "kind".
  void Describe(JsonWriter* w) const;

  // Key order walk: 0 on a key, 2 (empty) or 3 (no more keys) at the end.
  // Next moves on from the entry First or Next gave.
  int16_t First(std::string* key, uint32_t* recno);
  int16_t Next(std::string* key, uint32_t* recno);
  // Positions on the first key that starts with key (character) or equals
  // it (numeric, date): 0 found; 4, 12, 3 or 2 when there is none.
  int16_t Seek(const std::string& key, std::string* found, uint32_t* recno);
  // A soft seek: positions on the first entry at or after key in the
  // index's order: 0 on an entry, 3 or 2 when there is none.
  int16_t SoftSeek(const std::string& key, std::string* found, uint32_t* recno);
  // The entry the data file's current record should have: status 4 and
  // no key when the index's FOR condition leaves the record out.
  int16_t RecordKey(int16_t dbf_handle, std::string* key);
  int16_t Add(const std::string& key, uint32_t recno);
  // The tree check: problems as text, every entry in key order to
  // on_entry; a negative status only when the file cannot be read.
  int16_t Check(std::vector<std::string>* problems, uint64_t* keys,
                const EntrySink& on_entry);
  // True when two stored keys stand for the same key.
  bool SameKey(const std::string& a, const std::string& b) const;

  // Learns the key type from the expression on the table's record buffer,
  // where the file leaves it open; and, for a tagged file opened without a
  // tag, the types of every tag, for its description.
  void TypeFromTable(Table& table);
  void TypeTagsFromTable(Table& table);
  // The key image of a seek value: character bytes as given (a prefix),
  // a decimal number, a date YYYYMMDD (blank: the empty date), or T/F.
  // False when the value does not read as the key type.
  bool SeekKey(std::string_view value, std::string* key) const;
  // The key as `qxdb keys` prints it: text without trailing blanks, a
  // decimal number, a date YYYYMMDD ("" for the empty date), T or F; every
  // stored byte in hex (two upper-case digits each) while the key type is
  // only assumed.
  std::string KeyText(const std::string& key, int code_page) const;

 private:
  // The engine's key length: the bytes of a stored key.
  uint32_t stored_length() const;
  // The stored key into the adapter's buffer (cut or zero-filled), and
  // back.
  void Load(const std::string& key);
  std::string Stored() const;

  access::IndexKeyDescriptor key_;
  uint16_t file_handle_ = access::kNoIndexHandle;
  access::IndexKeyInfo info_;
  // True while the key type is only assumed for a file that does not
  // record it (IDX, CDX) and no table is at hand.
  bool key_type_assumed_ = false;
  std::vector<uint8_t> image_;  // the adapter's key buffer
  std::vector<std::pair<std::string, char>> tag_types_;  // learnt per tag
};

// How qxdb treats an index path: the dialect of its family (the adapter's
// by extension; a database container's index, ".dcx", is a compound file
// over the container table, ".dbc") and the data file beside it. False
// for a path that is not an index.
bool IndexKindOf(std::string_view path, access::XbaseDialect* dialect,
                 std::string* table_extension);

// True for the extensions qxdb opens as indexes.
bool IsIndexPath(std::string_view path);

// Opens the index at path (UTF-8) for the table, or alone (table null:
// the key type is then learnt from a data file of the same base name
// beside it, when there is one). Failures are reported; answers an exit
// status.
int OpenIndexFor(Invocation& inv, const std::string& path,
                 const std::optional<std::string>& tag, bool writable,
                 Table* table, std::unique_ptr<IndexFile>* index);

// How `qxdb index` builds.
struct BuildOptions {
  std::optional<std::string> tag;
  bool unique = false;
  bool descending = false;
  bool compact = false;        // IDX: the compact layout
  std::string for_expression;  // "" for none
};

// Builds (or defines and builds) an index from every record of the table.
// Failures are reported; answers an exit status.
int BuildIndex(Invocation& inv, Table& table, const std::string& path,
               const std::string& expression, const BuildOptions& options);

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_INDEX_FILE_H_
