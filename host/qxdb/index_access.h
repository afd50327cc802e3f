// An index file — or one tag of a multiple-index file — as qxdb uses it:
// walk, seek, key of a record, add, check, and the text of a key. One
// implementation per index kind over the engine's C API, chosen by the
// file's extension (.ndx so far).
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
  virtual ~IndexAccess() = default;

  virtual const char* kind() const = 0;  // "ndx"
  // 'C', 'N' or 'D'. A numeric NDX holds dates as day numbers; it is 'D'
  // once TypeFromTable has seen its expression give a date.
  char key_type() const { return key_type_; }
  uint16_t key_length() const { return key_length_; }
  const std::string& expression() const { return expression_; }
  bool unique() const { return unique_; }
  bool descending() const { return descending_; }

  // The members of `qxdb info` after "kind".
  virtual void Describe(JsonWriter* w) const;

  // Key order walk: 0 on a key, 2 (empty) or 3 (no more keys) at the end.
  virtual int16_t First(std::string* key, uint32_t* recno) = 0;
  virtual int16_t Next(std::string* key, uint32_t* recno) = 0;
  // Positions on the first key that starts with key (character) or equals
  // it (numeric, date): 0 found; 4, 12 or 2 when there is none.
  virtual int16_t Seek(const std::string& key, std::string* found,
                       uint32_t* recno) = 0;
  // The key of the data file's current record.
  virtual int16_t MakeKey(int16_t dbf_handle, std::string* key) = 0;
  virtual int16_t Add(const std::string& key, uint32_t recno) = 0;
  // The tree check: problems as text, every entry in key order to
  // on_entry; a negative status only when the file cannot be read.
  virtual int16_t Check(
      std::vector<std::string>* problems, uint64_t* keys,
      const std::function<void(const std::string& key, uint32_t recno)>&
          on_entry) = 0;

  // True when two stored keys stand for the same key (a format may write
  // one value in more than one way).
  virtual bool SameKey(const std::string& a, const std::string& b) const {
    return a == b;
  }

  // Evaluates the expression on the table's record buffer to tell a date
  // index from a numeric one.
  void TypeFromTable(Table& table);
  // The key image of a seek value: character bytes as given (a prefix),
  // a decimal number, or a date YYYYMMDD. False when the value does not
  // read as the key type.
  bool SeekKey(std::string_view value, std::string* key) const;
  // The key as `qxdb keys` prints it: text without trailing blanks, a
  // decimal number, a date YYYYMMDD ("" for the empty date).
  std::string KeyText(const std::string& key, int code_page) const;

 protected:
  // Numeric and date key bytes <-> double, per format.
  virtual double NumberOf(const std::string& key) const = 0;
  virtual std::string KeyOfNumber(double value) const = 0;

  char key_type_ = 'C';
  uint16_t key_length_ = 0;
  std::string expression_;
  bool unique_ = false;
  bool descending_ = false;
};

// Opens the index at path (UTF-8) for the table, or alone (table null:
// a date index is then found through a data file of the same base name
// beside it, when there is one). Failures are reported; answers an exit
// status.
int OpenIndexFor(Invocation& inv, const std::string& path,
                 const std::optional<std::string>& tag, bool writable,
                 Table* table, std::unique_ptr<IndexAccess>* index);

// Builds (or defines and builds) an index from every record of the table.
// Failures are reported; answers an exit status.
int BuildIndex(Invocation& inv, Table& table, const std::string& path,
               const std::string& expression,
               const std::optional<std::string>& tag, bool unique,
               bool descending);

// True for the extensions qxdb opens as indexes.
bool IsIndexPath(std::string_view path);

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_INDEX_ACCESS_H_
