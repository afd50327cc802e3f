// Writing records of a table object (see record_writer.h).
//
// Divisions: reporting; keys of the host record; automatic identifier;
// write; delete.
#include "access/table/record_writer.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "access/adapter/key_ops.h"
#include "access/adapter/record_ops.h"
#include "access/connection/driver_options.h"
#include "access/errors/error_context.h"
#include "access/table/record_transfer.h"
#include "access/table/xbase_description.h"
#include "access/table/xbase_table.h"
#include "framework/names.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

constexpr uint32_t kErrorReadRecord = 1015;
constexpr uint32_t kErrorRemoveKeys = 1025;
constexpr uint32_t kErrorRecordKey = 1026;
constexpr uint32_t kErrorWriteRecord = 1046;
constexpr uint32_t kErrorMakeKey = 1048;
constexpr uint32_t kErrorAddKey = 1049;
constexpr uint32_t kErrorDelete = 1051;
constexpr uint32_t kErrorPackMemo = 1052;
constexpr uint32_t kErrorDuplicate = 1053;
constexpr uint32_t kErrorIdentifier = 1061;

constexpr uint32_t kUnitWriter = 121;
constexpr uint32_t kSiteRead = 1;
constexpr uint32_t kSiteIdentifier = 2;
constexpr uint32_t kSiteWrite = 3;
constexpr uint32_t kSiteMakeKey = 4;
constexpr uint32_t kSiteDuplicate = 5;
constexpr uint32_t kSiteAddKey = 6;
constexpr uint32_t kSitePackMemo = 7;
constexpr uint32_t kSiteDelete = 8;
constexpr uint32_t kSiteRemoveKey = 9;

// The duplicate check seeks the whole key image.
constexpr uint16_t kSearchExact = 1;
// Room of a key image: the longest key of any family, and at least the
// host's key image.
constexpr size_t kImageRoom = 512;

// ---------------------------------------------------------------------------
// Reporting

struct Reporter {
  TableFiles* files;

  void operator()(uint32_t id, std::vector<platform::MessageArg> args,
                  uint32_t site, std::u16string_view item = {},
                  std::optional<int32_t> status = std::nullopt) const {
    ErrorReport report;
    report.id = id;
    report.args = std::move(args);
    report.table = files->table;
    report.item = item;
    report.unit = kUnitWriter;
    report.site = site;
    report.engine_status = status;
    ReportError(files->errors, report);
  }
};

// Error 1053, which the host tells from others by its category (3).
void ReportDuplicate(TableFiles* files, std::u16string_view name) {
  ErrorReport error;
  error.id = kErrorDuplicate;
  error.args = {platform::MessageArg::Text(name)};
  error.table = files->table;
  error.item = name;
  error.unit = kUnitWriter;
  error.site = kSiteDuplicate;
  ReportError(files->errors, error);
}

std::u16string_view NameOf(const RecordItem& item) {
  return item.name == nullptr ? std::u16string_view()
                              : std::u16string_view(item.name);
}

// ---------------------------------------------------------------------------
// Keys of the host record

// One key of a write: its descriptor, and the images of the record before
// (rewrite) and after.
struct WriteKey {
  const RecordItem* item = nullptr;
  const IndexKeyDescriptor* key = nullptr;
  bool unique = false;
  std::vector<uint8_t> old_image;
  bool old_belongs = false;
  std::vector<uint8_t> new_image;
  bool new_belongs = false;
  size_t length() const { return static_cast<size_t>(key->key_length); }
};

// The key items of the record with their descriptors; false after the
// table reported a key it cannot open.
bool CollectKeys(CXBaseTable* table, const Record* record,
                 std::vector<WriteKey>* keys) {
  keys->clear();
  if (record == nullptr) return true;
  for (uint32_t i = 0; i < record->item_count; ++i) {
    const RecordItem& item = record->items[i];
    if ((item.flags & kRecordItemKey) == 0) continue;
    WriteKey key;
    key.item = &item;
    key.key = table->KeyDescriptor(NameOf(item));
    if (key.key == nullptr) return false;
    key.unique = (item.flags & kRecordItemUnique) != 0;
    const size_t room = std::max<size_t>(kImageRoom, key.length());
    key.old_image.assign(room, 0);
    key.new_image.assign(room, 0);
    keys->push_back(std::move(key));
  }
  return true;
}

// The key of the record in the engine's buffer, and whether the record
// belongs in the index: the engine's status.
int32_t MakeRecordKey(const TableFiles& files, const WriteKey& key,
                      std::vector<uint8_t>* image, bool* belongs) {
  std::fill(image->begin(), image->end(), 0);
  const int32_t status = RecordKey(*key.key, files.handle, -1, 0, *image);
  if (status < 0) return status;
  const int32_t in = RecordBelongs(*key.key, files.handle);
  if (in < 0) return in;
  *belongs = in != 0;
  return status;
}

bool SameImage(const WriteKey& key) {
  return key.old_belongs == key.new_belongs &&
         std::memcmp(key.old_image.data(), key.new_image.data(),
                     key.length()) == 0;
}

std::u16string FormulaOf(CXBaseTable* table, const RecordItem& item) {
  CXBaseItem* described = table->description() == nullptr
                              ? nullptr
                              : table->description()->FindXItem(NameOf(item));
  if (described == nullptr) return {};
  return std::u16string(framework::HostText(described->GetExpression()));
}

// Puts back the keys maintained before a failure: the entry the write
// made goes, the old one (rewrite) comes back. Errors here are not
// reported: the write's own error is the one the host sees.
void UndoKeys(std::vector<WriteKey>& keys, size_t done, uint32_t recno,
              bool rewrite) {
  for (size_t k = 0; k < done; ++k) {
    WriteKey& key = keys[k];
    if (rewrite && SameImage(key)) continue;
    if (key.new_belongs) DeleteKey(*key.key, key.new_image, recno);
    if (rewrite && key.old_belongs) AddKey(*key.key, key.old_image, recno);
  }
}

bool IsEmptyMemo(const RecordItem& item) {
  if (item.buffer == nullptr || item.capacity < sizeof(HostValue)) return true;
  const auto* value = static_cast<const HostValue*>(item.buffer);
  return value->type == kValueNone || value->type == kValueNull ||
         (value->state & kValueStateNull) != 0 || value->size == 0;
}

// ---------------------------------------------------------------------------
// Automatic identifier

int64_t ItemInteger(const RecordItem& item) {
  switch (item.value_type) {
    case kValueInt64:
    case kValueInt64Alt:
    case kValueUInt64: {
      int64_t v = 0;
      std::memcpy(&v, item.buffer, sizeof v);
      return v;
    }
    case kValueDouble: {
      double v = 0;
      std::memcpy(&v, item.buffer, sizeof v);
      return static_cast<int64_t>(v);
    }
    case kValueInt16: {
      int16_t v = 0;
      std::memcpy(&v, item.buffer, sizeof v);
      return v;
    }
    default: {
      int32_t v = 0;
      std::memcpy(&v, item.buffer, sizeof v);
      return v;
    }
  }
}

void SetItemInteger(RecordItem* item, int64_t value) {
  item->state = 0;
  if (item->value_type == kValueInt64 || item->value_type == kValueInt64Alt) {
    std::memcpy(item->buffer, &value, sizeof value);
    item->length = sizeof value;
  } else if (item->value_type == kValueDouble) {
    const double v = static_cast<double>(value);
    std::memcpy(item->buffer, &v, sizeof v);
    item->length = sizeof v;
  } else {
    const auto v = static_cast<int32_t>(value);
    item->value_type = kValueInt32;
    std::memcpy(item->buffer, &v, sizeof v);
    item->length = sizeof v;
  }
}

RecordItem* IdentifierItem(Record* record) {
  for (uint32_t i = 0; i < record->item_count; ++i) {
    if ((record->items[i].flags & kRecordItemAutoId) != 0)
      return &record->items[i];
  }
  return nullptr;
}

// The identifier of the record to write, in its item. 1 or 0.
int32_t ComputeIdentifier(CXBaseTable* table, TableFiles* files,
                          RecordItem* item, uint32_t recno, bool add) {
  const Reporter report{files};
  const IndexKeyDescriptor* key = table->KeyDescriptor(NameOf(*item));
  if (key == nullptr) return 0;
  const auto fail = [&](int32_t status) {
    report(kErrorIdentifier, {platform::MessageArg::Text(NameOf(*item))},
           kSiteIdentifier, NameOf(*item), status);
    return 0;
  };
  if (item->buffer == nullptr || item->capacity < sizeof(int32_t) ||
      (item->capacity < sizeof(int64_t) && item->value_type != kValueInt32))
    return fail(kKbdOk);
  if (!add) {
    const int32_t status = ReadRecord(files->handle, recno);
    if (status != kKbdOk && status != kKbdDeletedRecord) return fail(status);
    files->current_recno = recno;
    return FillItem(files, item);
  }
  std::vector<uint8_t> image(std::max<size_t>(kImageRoom, key->key_length));
  uint32_t last = 0;
  int32_t status = LastKey(*key, image, &last);
  if (status == kKbdEmptyFile || status == kKbdNoMoreKeys) {
    SetItemInteger(item, 1);
    return 1;
  }
  if (status != kKbdOk && status != kKbdDeletedRecord) return fail(status);
  status = ReadRecord(files->handle, last);
  if (status != kKbdOk && status != kKbdDeletedRecord) return fail(status);
  files->current_recno = last;
  if (FillItem(files, item) != 1) return 0;
  SetItemInteger(item, ItemInteger(*item) + 1);
  return 1;
}

// ---------------------------------------------------------------------------
// Key maintenance

// Keeps every key in step with the record just written; on a failure the
// keys before it are undone and 0 is answered.
int32_t MaintainKeys(CXBaseTable* table, TableFiles* files,
                     std::vector<WriteKey>& keys, uint32_t recno,
                     bool rewrite) {
  const Reporter report{files};
  const bool check_duplicates = Options().duplicates_on != 0;
  for (size_t k = 0; k < keys.size(); ++k) {
    WriteKey& key = keys[k];
    const std::u16string_view name = NameOf(*key.item);
    int32_t status =
        MakeRecordKey(*files, key, &key.new_image, &key.new_belongs);
    if (status < 0) {
      report(kErrorMakeKey,
             {platform::MessageArg::Text(name),
              platform::MessageArg::Text(FormulaOf(table, *key.item))},
             kSiteMakeKey, name, status);
      UndoKeys(keys, k, recno, rewrite);
      return 0;
    }
    if (rewrite && SameImage(key)) continue;
    status = 0;
    bool old_removed = false;
    if (rewrite && key.old_belongs) {
      status = DeleteKey(*key.key, key.old_image, recno);
      old_removed = status >= 0;
    }
    bool duplicate = false;
    if (check_duplicates && status >= 0 && key.unique && key.new_belongs) {
      std::vector<uint8_t> sought(key.new_image);
      uint32_t found = 0;
      duplicate =
          SeekKey(*key.key, sought, true, &found, kSearchExact) == kKbdOk;
    }
    if (!duplicate && status >= 0 && key.new_belongs)
      status = AddKey(*key.key, key.new_image, recno);
    if (duplicate || status < 0) {
      // This key's old entry comes back with the others'.
      if (old_removed) AddKey(*key.key, key.old_image, recno);
      if (duplicate) {
        ReportDuplicate(files, name);
      } else {
        report(kErrorAddKey, {platform::MessageArg::Text(name)}, kSiteAddKey,
               name, status);
      }
      UndoKeys(keys, k, recno, rewrite);
      return 0;
    }
  }
  return 1;
}

// Whether a unique key of the record in the buffer is held by another
// record (reported as 1053). A rewrite that keeps its key is no duplicate.
bool FindDuplicate(TableFiles* files, std::vector<WriteKey>& keys,
                   bool rewrite) {
  for (WriteKey& key : keys) {
    if (!key.unique) continue;
    if (MakeRecordKey(*files, key, &key.new_image, &key.new_belongs) < 0)
      continue;  // key maintenance reports it
    if (!key.new_belongs || (rewrite && SameImage(key))) continue;
    std::vector<uint8_t> sought(key.new_image);
    uint32_t found = 0;
    if (SeekKey(*key.key, sought, true, &found, kSearchExact) != kKbdOk)
      continue;
    ReportDuplicate(files, NameOf(*key.item));
    return true;
  }
  return false;
}

// Takes back a failed add: the record appended is marked deleted and the
// memo values written for it are compacted away.
void UndoAdd(TableFiles* files, uint32_t recno, bool appended,
             bool memos_written) {
  if (appended) MarkDeleted(files->handle, recno);
  if (!memos_written || files->memo_handle == kNoMemoHandle) return;
  uint16_t memo = files->memo_handle;
  const int32_t status = PackMemo(files->memo_fpt, &memo, files->handle);
  files->memo_handle = memo;
  if (status < 0) {
    Reporter{files}(kErrorPackMemo, {}, kSitePackMemo, {}, status);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Write

int32_t WriteTableRecord(CXBaseTable* table, Record* record, uint32_t* recno,
                         uint32_t options, uint16_t mode) {
  TableFiles* files = table->mutable_files();
  const Reporter report{files};
  if (record == nullptr || recno == nullptr || !files->is_open()) return 0;
  const bool rewrite = mode == kWriteModeRewrite;
  std::vector<WriteKey> keys;
  if (!CollectKeys(table, record, &keys)) return 0;

  // Reads the record rewritten into the engine's buffer (1015 reported).
  const auto read_record = [&]() -> bool {
    const int32_t status = ReadRecord(files->handle, *recno);
    if (status != kKbdOk && status != kKbdDeletedRecord) {
      report(kErrorReadRecord,
             {platform::MessageArg::Unsigned(*recno),
              platform::MessageArg::Text(files->table),
              platform::MessageArg::Signed(status)},
             kSiteRead, {}, status);
      return false;
    }
    files->current_recno = *recno;
    return true;
  };

  // 1. The record as it stands: its bytes and keys.
  std::string old_bytes;
  if (rewrite) {
    if (!read_record()) return 0;
    CopyRecordBuffer(files->handle, &old_bytes);
    for (WriteKey& key : keys) {
      const int32_t made =
          MakeRecordKey(*files, key, &key.old_image, &key.old_belongs);
      if (made < 0) {
        report(kErrorMakeKey,
               {platform::MessageArg::Text(NameOf(*key.item)),
                platform::MessageArg::Text(FormulaOf(table, *key.item))},
               kSiteMakeKey, NameOf(*key.item), made);
        return 0;
      }
    }
  }

  // 2. The automatic identifier.
  if (RecordItem* id = IdentifierItem(record)) {
    const bool host_gives =
        (options & (kWriteHostIdentifier | kWriteHostIdentifier2)) != 0;
    const bool force = (options & kWriteForceIdentifier) != 0;
    if (!host_gives || force) {
      const bool add = !rewrite || force;
      if (ComputeIdentifier(table, files, id, *recno, add) != 1) return 0;
    }
  }

  // 3. The buffer: empty for an add, the record itself for a rewrite.
  if (rewrite) {
    if (files->current_recno != *recno && !read_record()) return 0;
  } else {
    BlankRecord(files->handle);
    files->current_recno = 0;
  }

  // 4. Every item but the memos, put and filled back.
  for (uint32_t i = 0; i < record->item_count; ++i) {
    RecordItem* item = &record->items[i];
    if ((item->flags & (kRecordItemMemo | kRecordItemSkip)) != 0 ||
        item->field_number < 0)
      continue;
    if (PutItem(files, item) != 1) {
      return 0;
    }
    FillItem(files, item);
  }

  // 5. Unique keys, against the record as it will be written: a
  // duplicate found here leaves nothing to undo.
  if (Options().duplicates_on != 0 && FindDuplicate(files, keys, rewrite)) {
    return 0;
  }

  // 6. Memo items.
  bool memos_written = false;
  for (uint32_t i = 0; i < record->item_count; ++i) {
    const RecordItem& item = record->items[i];
    if ((item.flags & kRecordItemMemo) == 0 ||
        (item.flags & kRecordItemSkip) != 0 || item.field_number < 0)
      continue;
    // A new record's empty memo takes no block: its field stays blank.
    if (!rewrite && IsEmptyMemo(item)) continue;
    if (WriteMemoItem(files, record, i, mode) != 1) {
      if (!rewrite) UndoAdd(files, 0, false, memos_written);
      return 0;
    }
    memos_written = true;
  }

  // 7. The record.
  uint32_t written = rewrite ? *recno : 0;
  const int32_t status = WriteRecord(files->handle, &written, mode);
  if (status != kKbdOk && status != kKbdDeletedRecord) {
    report(kErrorWriteRecord, {platform::MessageArg::Text(files->table)},
           kSiteWrite, {}, status);
    if (!rewrite) UndoAdd(files, 0, false, memos_written);
    return 0;
  }
  files->current_recno = written;

  // 8. Keys.
  if (MaintainKeys(table, files, keys, written, rewrite) != 1) {
    if (rewrite) {
      // The old record comes back, so that it agrees with its entries.
      if (RestoreRecordBuffer(files->handle, old_bytes) >= 0) {
        uint32_t again = written;
        WriteRecord(files->handle, &again, mode);
      }
      record->recno = written;
      record->state = kRecordActive;
    } else {
      UndoAdd(files, written, true, memos_written);
    }
    return 0;
  }
  *recno = written;
  record->recno = written;
  record->state = kRecordActive;
  return 1;
}

// ---------------------------------------------------------------------------
// Delete

int32_t DeleteTableRecord(CXBaseTable* table, Record* record, uint32_t recno,
                          bool remove_keys) {
  TableFiles* files = table->mutable_files();
  const Reporter report{files};
  if (!files->is_open()) return 0;
  int32_t status = MarkDeleted(files->handle, recno);
  if (status != kKbdOk && status != kKbdDeletedRecord) {
    report(kErrorDelete, {platform::MessageArg::Unsigned(recno)}, kSiteDelete,
           {}, status);
    return 0;
  }
  if (remove_keys) {
    std::vector<WriteKey> keys;
    bool removed = CollectKeys(table, record, &keys);
    if (removed) {
      status = ReadRecord(files->handle, recno);
      files->current_recno = recno;
      if (status != kKbdOk && status != kKbdDeletedRecord) {
        report(kErrorReadRecord,
               {platform::MessageArg::Unsigned(recno),
                platform::MessageArg::Text(files->table),
                platform::MessageArg::Signed(status)},
               kSiteRead, {}, status);
        removed = false;
      }
    }
    size_t done = 0;
    for (; removed && done < keys.size(); ++done) {
      WriteKey& key = keys[done];
      const std::u16string_view name = NameOf(*key.item);
      status = MakeRecordKey(*files, key, &key.old_image, &key.old_belongs);
      if (status < 0) {
        report(kErrorRecordKey,
               {platform::MessageArg::Text(name),
                platform::MessageArg::Unsigned(recno),
                platform::MessageArg::Signed(status)},
               kSiteRemoveKey, name, status);
        removed = false;
        break;
      }
      if (!key.old_belongs) continue;
      status = DeleteKey(*key.key, key.old_image, recno);
      if (status < 0) {
        report(kErrorRemoveKeys,
               {platform::MessageArg::Unsigned(recno),
                platform::MessageArg::Text(name),
                platform::MessageArg::Signed(status)},
               kSiteRemoveKey, name, status);
        removed = false;
        break;
      }
    }
    if (!removed) {
      // The entries removed come back with the record.
      for (size_t k = 0; k < done; ++k) {
        if (keys[k].old_belongs) AddKey(*keys[k].key, keys[k].old_image, recno);
      }
      RecallRecord(files->handle, recno);
      return 0;
    }
  }
  if (record != nullptr) {
    record->recno = recno;
    record->state = kRecordDeleted;
  }
  return 1;
}

}  // namespace qx::access
