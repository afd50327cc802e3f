// Building an NDX index over an existing data file (kbdnindex): every
// record's key is sorted through the work file and the tree is written
// bottom-up in one pass.
//
// Steps: create the empty index; lock the data file (mode 2) and prepare
// its block reader; start the sort (work file "stacks.tmp"); open the new
// index; read every record in record order, deleted ones included (an
// index holds one entry per record), and append its sort item; merge the
// runs into the page writer, whose first page overwrites the empty root
// leaf of page 1; record root and next_free. Whatever happens the work
// file is deleted, the block reader released, the lock dropped and the
// index closed; a failed build deletes the index file.
//
// Sort items: the key (key_length bytes) then the record number
// big-endian. Character keys are stored as they are and ordered under
// the collation switch (the whole item decides between equal keys);
// numeric and date keys are stored as the sortable double image, so that
// byte order is value order, and turned back into little-endian doubles
// when the pages are written.
//
// Reading keys: when the expression is the name of a C, N or D field the
// field bytes are taken straight from the block (text padded or cut to
// the key length, N text read as a number, a D date turned into its key
// day number, an empty date 1.0e100); otherwise the expression is
// evaluated on each record. Both give the keys kbdnkmake gives.
#include <bit>
#include <cstring>
#include <string_view>

#include "engine/btree/cleanup_step.h"
#include "engine/btree/external_sort.h"
#include "engine/btree/page_writer.h"
#include "engine/collate/collation.h"
#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/dates/date_format.h"
#include "engine/dates/key_codec.h"
#include "engine/dbf/dbf_block_reader.h"
#include "engine/dbf/dbf_format.h"
#include "engine/dbf/dbf_internal.h"
#include "engine/expr/record_source.h"
#include "engine/ndx/ndx_file.h"

namespace qx::engine {
namespace {

// The data-file lock held while the records are read.
constexpr int16_t kBuildLockMode = 2;
// Sort buffer: 65,000 bytes, 512 less after each failed allocation, at
// least 2,049.
constexpr uint32_t kSortBufferBytes = 65000;
constexpr uint32_t kSortBufferStep = 512;
constexpr uint32_t kSortBufferMin = 2049;
constexpr const char* kWorkFileName = "stacks.tmp";
constexpr uint32_t kRecnoSize = 4;

class NdxPageEncoder : public btree::PageEncoder {
 public:
  explicit NdxPageEncoder(const btree::EntryLayout& layout)
      : layout_(layout) {}
  void PutEntry(uint8_t* page, bool leaf, uint32_t slot, const uint8_t* key,
                uint32_t pointer) override {
    layout_.PutEntry(page, slot, leaf, leaf ? 0 : pointer, leaf ? pointer : 0,
                     key);
  }
  void FinishPage(uint8_t* page, bool leaf, uint32_t count,
                  uint32_t trailing) override {
    layout_.SetCount(page, count);
    if (!leaf) layout_.SetChild(page, count, trailing);
  }

 private:
  const btree::EntryLayout& layout_;
};

// Reads each record's key into sort items.
class KeyReader {
 public:
  KeyReader(int16_t dbf_handle, DbfFile* dbf, const NdxFile& index)
      : dbf_handle_(dbf_handle), dbf_(dbf), index_(index) {}

  int16_t Prepare() {
    int16_t field = FindField(*dbf_, index_.expression);
    if (field >= 0) {
      const DbfField& f = dbf_->fields[static_cast<size_t>(field)];
      if ((f.type == 'C' && !index_.numeric()) ||
          ((f.type == 'N' || f.type == 'D') && index_.numeric())) {
        field_ = &f;
        return kKbdOk;
      }
    }
    return source_.Open(dbf_handle_);
  }

  // Writes the sort item of record recno.
  int16_t Read(uint32_t recno, uint8_t* item) {
    const uint32_t length = index_.header.key_length;
    PutBe32(item + length, recno);
    if (field_ != nullptr) {
      const uint8_t* record = nullptr;
      int16_t status = PeekRecordThroughBlock(dbf_handle_, recno, &record);
      if (status < 0) return status;
      const uint8_t* bytes = record + field_->offset;
      switch (field_->type) {
        case 'C': {
          uint32_t n = field_->length < length ? field_->length : length;
          std::memcpy(item, bytes, n);
          std::memset(item + n, ' ', length - n);
          return kKbdOk;
        }
        case 'N':
          EncodeDoubleKey(DecodeNumber(bytes, field_->length), item);
          return kKbdOk;
        default: {  // 'D'
          double day = 0;
          std::string_view text(reinterpret_cast<const char*>(bytes),
                                field_->length < kStoredDateLength
                                    ? field_->length
                                    : kStoredDateLength);
          int16_t read = DateTextToKeyDay(&day, text, kDateFormatYmd);
          if (read < 0) return Fail(read);
          EncodeDoubleKey(day, item);
          return kKbdOk;
        }
      }
    }
    int16_t status = ReadRecordThroughBlock(dbf_handle_, recno);
    if (status < 0) return status;
    KeyValue key;
    status = EvaluateKey(&source_, index_.expression,
                         NumericKeyRule::kNumericOnly, &key);
    if (status < 0) return status;
    if ((key.type == 'C') == index_.numeric())
      return Fail(kKbdErrKeyExpression);
    if (key.type == 'C') {
      uint32_t n = key.text.size() < length
                       ? static_cast<uint32_t>(key.text.size())
                       : length;
      std::memcpy(item, key.text.data(), n);
      std::memset(item + n, ' ', length - n);
    } else {
      EncodeDoubleKey(key.number, item);
    }
    return kKbdOk;
  }

 private:
  int16_t dbf_handle_;
  DbfFile* dbf_;
  const NdxFile& index_;
  const DbfField* field_ = nullptr;
  DbfFieldSource source_;
};

// Sorts every record's key and writes the tree into the open index.
int16_t FillIndex(int16_t dbf_handle, DbfFile* dbf, NdxFile* index,
                  btree::ExternalSort* sorter) {
  const uint32_t length = index->header.key_length;
  btree::SortOptions options;
  options.item_size = length + kRecnoSize;
  if (!index->numeric() && !AsciiSortOn()) {
    options.order.compare_key = CollateCompare;
    options.order.key_length = length;
  }
  options.work_file = kWorkFileName;
  options.buffer_bytes = kSortBufferBytes;
  options.buffer_step = kSortBufferStep;
  options.min_buffer_bytes = kSortBufferMin;
  if (int16_t e = sorter->Start(options)) return e;

  KeyReader reader(dbf_handle, dbf, *index);
  if (int16_t e = reader.Prepare()) return e;
  const uint32_t count = dbf->header.record_count;
  for (uint32_t recno = 1; recno <= count; ++recno) {
    uint8_t* item = nullptr;
    if (int16_t e = sorter->Append(&item)) return e;
    if (int16_t e = reader.Read(recno, item)) return e;
  }
  if (int16_t e = sorter->Finish()) return e;
  if (count == 0) return kKbdOk;  // the empty root of page 1 stays

  NdxPageEncoder encoder(index->layout);
  btree::WriterShape shape;
  shape.page_size = kNdxPageSize;
  shape.key_length = length;
  shape.leaf_keys = index->header.keys_per_page;
  shape.interior_keys = index->header.keys_per_page;
  shape.trailing_pointer = true;
  shape.id_unit = kNdxPageSize;
  btree::PageWriter writer(index->slot, shape, &encoder);
  // Page 1, the empty root of the new file, takes the first page built.
  if (int16_t e = writer.Start(count, 1, 1)) return e;
  uint8_t key[kNdxMaxKeyLength];
  for (;;) {
    const uint8_t* item = nullptr;
    if (int16_t e = sorter->Next(&item)) return e;
    if (item == nullptr) break;
    if (index->numeric())
      PutLe64(key, std::bit_cast<uint64_t>(DecodeDoubleKey(item)));
    else
      std::memcpy(key, item, length);
    if (int16_t e = writer.Add(key, GetBe32(item + length))) return e;
  }
  uint32_t root = 0, next_free = 0;
  if (int16_t e = writer.Finish(&root, &next_free)) return e;
  uint8_t words[kNdxHeaderWordsSize];
  PutLe32(words + kNdxRootOffset, root);
  PutLe32(words + kNdxNextFreeOffset, next_free);
  if (int16_t e = FileWriteAt(index->slot, 0, words, sizeof words)) return e;
  index->header.root = root;
  index->header.next_free = next_free;
  return kKbdOk;
}

int16_t BuildNdx(int16_t dbf_handle, const char* name, uint16_t type,
                 const char* expression, uint16_t key_length) {
  if (name == nullptr || expression == nullptr)
    return Fail(kKbdErrNullPointer);
  DbfFile* dbf = CheckDbf(dbf_handle);
  if (dbf == nullptr) return kKbdErrHandle;
  if (int16_t e = CreateNdx(name, type, expression, key_length)) return e;

  bool locked = false;
  int16_t index_handle = kKbdNoHandle;
  btree::ExternalSort sorter;
  int16_t status = LockDbfFile(dbf, kBuildLockMode);
  if (status == kKbdOk) {
    locked = true;
    status = PrepareBlockReader(dbf_handle);
  }
  if (status == kKbdOk) status = OpenNdx(&index_handle, name, 0);
  if (status == kKbdOk) {
    NdxFile* index = CheckNdx(index_handle);
    status = index == nullptr ? int16_t{kKbdErrHandle}
                              : FillIndex(dbf_handle, dbf, index, &sorter);
  }
  if (status > 0) status = kKbdOk;  // warnings of the steps are not the build's

  sorter.Close();
  btree::RunDespiteError([&] {
    ReleaseBlockReader(dbf_handle);
    return int16_t{kKbdOk};
  });
  if (locked)
    btree::RunDespiteError([&] { return UnlockDbfFile(dbf, kBuildLockMode); });
  if (index_handle != kKbdNoHandle) {
    int16_t closed =
        btree::RunDespiteError([&] { return CloseNdx(index_handle); });
    if (status == kKbdOk && closed < 0) status = Fail(closed);
  }
  if (status < 0) {
    btree::RunDespiteError([&] { return FileDelete(name); });
    return status;
  }
  return StickyError();
}

}  // namespace
}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdnindex(int16_t dbf_handle, const char* name,
                             uint16_t type, const char* expression,
                             uint16_t key_length) {
  return RunOperation(
      [&] { return BuildNdx(dbf_handle, name, type, expression, key_length); });
}
