// An index file — or one tag of a multiple-index or compound file — as
// qxdb uses it: walk, seek, key of a record, add, check, and the text of a
// key. One implementation per index kind over the engine's C API, chosen
// by the file's extension (.ndx .mdx .ntx .idx .cdx; index_kinds.h).
//
// Key types. 'C' text, 'N' numbers, 'D' dates, 'L' logicals. Files that
// do not record the type of their keys (NTX, IDX, CDX; NDX tells only
// character from numeric) take it from their expression evaluated on the
// table, when one is at hand; otherwise their keys are shown as text.
#ifndef QX_HOST_QXDB_INDEX_ACCESS_H_
#define QX_HOST_QXDB_INDEX_ACCESS_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/qxdb/cli.h"
#include "host/qxdb/json.h"
#include "host/qxdb/table.h"

namespace qx::qxdb {

class IndexAccess {
 public:
  using EntrySink = std::function<void(const std::string& key, uint32_t recno)>;

  virtual ~IndexAccess() = default;

  virtual const char* kind() const = 0;  // "ndx", "mdx", "ntx", "idx", "cdx"
  // False for a tagged file opened without a tag: it can only describe
  // itself.
  virtual bool has_tag() const { return true; }
  char key_type() const { return key_type_; }
  uint16_t key_length() const { return key_length_; }
  const std::string& expression() const { return expression_; }
  // The FOR condition of a filtered tag, "" for none.
  const std::string& for_expression() const { return for_expression_; }
  bool unique() const { return unique_; }
  // A unique index that keeps the first record of each key and leaves the
  // others out (not a candidate key, which refuses them: every record of
  // a candidate key has its entry).
  bool leaves_records_out() const { return unique_ && !candidate_; }
  bool descending() const { return descending_; }

  // The members of `qxdb info` after "kind".
  virtual void Describe(JsonWriter* w) const;

  // Key order walk: 0 on a key, 2 (empty) or 3 (no more keys) at the end.
  // Next moves on from the entry First or Next gave.
  virtual int16_t First(std::string* key, uint32_t* recno) = 0;
  virtual int16_t Next(std::string* key, uint32_t* recno) = 0;
  // Positions on the first key that starts with key (character) or equals
  // it (numeric, date): 0 found; 4, 12, 3 or 2 when there is none.
  virtual int16_t Seek(const std::string& key, std::string* found,
                       uint32_t* recno) = 0;
  // A soft seek: positions on the first entry at or after key in the
  // index's order (a descending index's order too): 0 on an entry, 3 or 2
  // when there is none.
  virtual int16_t SoftSeek(const std::string& key, std::string* found,
                           uint32_t* recno) = 0;
  // The key of the data file's current record; status 4 (and no key)
  // when the record has no entry (a FOR condition it fails).
  virtual int16_t MakeKey(int16_t dbf_handle, std::string* key) = 0;
  // The entry the data file's current record should have: its FOR
  // condition (evaluated by the engine under the index family's rules, on
  // the record buffer with its deletion mark), then its key. Status 4 and
  // no key when the condition fails.
  int16_t RecordKey(int16_t dbf_handle, std::string* key);
  virtual int16_t Add(const std::string& key, uint32_t recno) = 0;
  // The tree check: problems as text, every entry in key order to
  // on_entry; a negative status only when the file cannot be read.
  virtual int16_t Check(std::vector<std::string>* problems, uint64_t* keys,
                        const EntrySink& on_entry) = 0;

  // True when two stored keys stand for the same key (a format may write
  // one value in more than one way).
  virtual bool SameKey(const std::string& a, const std::string& b) const {
    return a == b;
  }

  // Evaluates the expression on the table's record buffer to learn the
  // key type, where the file leaves it open.
  void TypeFromTable(Table& table);
  // The same for every tag of a tagged file opened without a tag, for its
  // description (files that do not record their tags' key types).
  virtual void TypeTagsFromTable(Table& /*table*/) {}
  // The key image of a seek value: character bytes as given (a prefix),
  // a decimal number, a date YYYYMMDD, or T/F. False when the value does
  // not read as the key type.
  bool SeekKey(std::string_view value, std::string* key) const;
  // The key as `qxdb keys` prints it: text without trailing blanks, a
  // decimal number, a date YYYYMMDD ("" for the empty date), T or F; every
  // stored byte in hex (two upper-case digits each) while the key type is
  // only assumed.
  std::string KeyText(const std::string& key, int code_page) const;

 protected:
  // The facts `qxdb info` gives of one tag.
  struct TagFacts {
    std::string name;
    std::string expression;
    std::string for_expression;
    int key_length;
    std::string key_type;
    bool unique;
    bool descending;
  };
  static void DescribeTag(JsonWriter* w, const TagFacts& tag);
  // "key_type", "unique" and "descending" of a single-key file.
  void DescribeKey(JsonWriter* w, char key_type) const;

  // The key type an expression gives on the table's record buffer ('C',
  // 'N', 'D', 'L'; ' ' when it cannot be evaluated) and its text length,
  // evaluated with rules (kKbdExprRules...).
  static char EvaluatedKeyType(Table& table, const std::string& expression,
                               int16_t rules, uint16_t* length);

  // on_entry for the engine's checks, which give raw key bytes.
  std::function<void(const uint8_t*, uint32_t)> RawSink(
      const EntrySink& on_entry) const;

  // Called when TypeFromTable settled the key type; value_length is the
  // length of the evaluated text (character keys).
  virtual void KeyTypeChanged(uint16_t /*value_length*/) {}
  // The value part of a stored key (false: the key of a null value), and
  // a value image made a stored key: for formats whose keys carry more
  // than the value.
  virtual bool Unwrap(const std::string& key, std::string* value) const {
    *value = key;
    return true;
  }
  virtual void Wrap(std::string* /*key*/) const {}

  // Numeric and date key bytes <-> double (dates as day numbers), per
  // format.
  virtual double NumberOf(const std::string& key) const = 0;
  virtual std::string KeyOfNumber(double value) const = 0;

  char key_type_ = 'C';
  // True while key_type_ is only assumed for a file that does not record
  // its key type (IDX, CDX) and no table is at hand to evaluate its
  // expression on: the keys may be binary images, shown in hex.
  bool key_type_assumed_ = false;
  // The types an evaluated expression may settle (empty: the file's type
  // stands).
  std::string typed_by_;
  uint16_t key_length_ = 0;
  std::string expression_;
  std::string for_expression_;
  bool unique_ = false;
  bool candidate_ = false;
  bool descending_ = false;
};

// Opens the index at path (UTF-8) for the table, or alone (table null:
// the key type is then learnt from a data file of the same base name
// beside it, when there is one). Failures are reported; answers an exit
// status.
int OpenIndexFor(Invocation& inv, const std::string& path,
                 const std::optional<std::string>& tag, bool writable,
                 Table* table, std::unique_ptr<IndexAccess>* index);

// How `qxdb index` builds.
struct BuildOptions {
  std::optional<std::string> tag;
  bool unique = false;
  bool descending = false;
  bool compact = false;  // IDX: the compact layout
  std::string for_expression;  // "" for none
};

// Builds (or defines and builds) an index from every record of the table.
// Failures are reported; answers an exit status.
int BuildIndex(Invocation& inv, Table& table, const std::string& path,
               const std::string& expression, const BuildOptions& options);

// True for the extensions qxdb opens as indexes.
bool IsIndexPath(std::string_view path);

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_INDEX_ACCESS_H_
