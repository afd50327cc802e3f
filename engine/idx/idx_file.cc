// IDX files: open with its header checks, create, close, the per-call
// refresh, and the key of a record.
#include "engine/idx/idx_file.h"

#include <cstring>

#include "engine/core/coding.h"
#include "engine/core/handle_table.h"
#include "engine/core/open_mode.h"
#include "engine/dates/key_codec.h"
#include "engine/expr/expression.h"
#include "engine/expr/record_source.h"
#include "engine/fox/fox_fill.h"
#include "engine/fox/fox_format.h"
#include "engine/fox/fox_key_image.h"
#include "engine/index/index_open.h"
#include "engine/index/key_type_word.h"

namespace qx::engine {
namespace {

int16_t CloseIdxOperation(int16_t handle) { return kbdiclose(handle); }

// Where the first node of a new file goes: after the header, and in the
// compact layout after the expression block too.
uint32_t FirstNodeOffset(bool compact) {
  return (compact ? 2 : 1) * fox::kFoxBlockSize;
}

}  // namespace

IdxFile::~IdxFile() { index::CloseSlotOfBlock(&slot); }

IdxFile* CheckIdx(int16_t handle) {
  return CheckHandleAs<IdxFile>(handle, kKbdKindIdx);
}

int16_t RefreshIdx(IdxFile* file, bool read) {
  // A change of a shared file reads every node afresh under its lock.
  if (int16_t e = file->tree.Refresh(read || file->tree.shape().exclusive))
    return e;
  const uint32_t root = file->tree.root();
  if (root < fox::kFoxBlockSize || root >= file->tree.end() ||
      root % fox::kFoxBlockSize != 0)
    return Fail(kKbdErrRootPage);
  return kKbdOk;
}

int16_t EndIdxCall(IdxFile* file) {
  int16_t status = file->tree.EndCall();
  if (file->changed && file->compact() && status >= 0)
    status = fox::CountFoxChange(file->slot, &file->pending_changes);
  return index::FlushAfterWrites(status, &file->changed, file->slot);
}

// ---- Open -------------------------------------------------------------------

int16_t OpenIdx(int16_t* handle, const char* name, uint16_t mode) {
  index::IndexOpening<IdxFile> opening;
  if (int16_t e =
          opening.Begin(handle, name, mode, kKbdKindIdx, CloseIdxOperation))
    return e;
  IdxFile* file = opening.block();
  auto fail = [&opening](int16_t status) { return opening.Fail(status); };
  if (!fox::FoxDialectAccepted(DialectOf(mode)))
    return fail(Fail(kKbdErrVersion));
  fox::FoxHeader& h = file->header;
  if (int16_t e = fox::ReadFoxHeader(file->slot, 0, &h)) return fail(e);
  if (h.key_length < 1 || h.key_length > fox::kFoxMaxKeyLength)
    return fail(Fail(kKbdErrKeySize));
  if (h.expression.size() >= fox::kFoxMaxExpression ||
      h.for_expression.size() >= fox::kFoxMaxExpression)
    return fail(Fail(kKbdErrKeyExpression));
  file->expression = NormaliseExpressionText(h.expression);
  file->for_expression = NormaliseExpressionText(h.for_expression);
  uint32_t size = 0;
  if (int16_t e = FileSize(file->slot, &size)) return fail(e);
  // The standard layout keeps its end of file in the header; the compact
  // one is taken at its size.
  const uint32_t end = file->compact() ? size : h.end_of_file;
  if (h.root < fox::kFoxBlockSize || h.root >= end)
    return fail(Fail(kKbdErrRootPage));
  fox::FoxTreeShape shape;
  shape.header_offset = 0;
  shape.layout = h.layout();
  shape.key_length = h.key_length;
  shape.pad = file->pad();
  shape.unique = file->unique();
  shape.descending = file->descending();
  shape.read_only = file->read_only();
  shape.exclusive = FileOpenedAlone(file->slot);
  shape.write_through = true;
  shape.widen_record_field = true;
  shape.cache_error = kKbdErrIdxCache;
  if (int16_t e = file->tree.Init(file->slot, shape)) return fail(e);
  file->key.assign(h.key_length, 0);
  file->found.assign(h.key_length, 0);
  if (size != end) return kKbdBadFileSize;  // the index stays open
  return kKbdOk;
}

// ---- Create -----------------------------------------------------------------

int16_t CreateIdx(const char* name, uint16_t type, const char* expression,
                  uint16_t key_length, const char* for_expression) {
  if (name == nullptr || expression == nullptr) return Fail(kKbdErrNullPointer);
  std::string text;
  if (int16_t e =
          NormaliseKeyExpression(expression, &text, fox::kFoxMaxExpression))
    return e;
  std::string for_text;
  if (int16_t e = fox::StoredForExpression(for_expression, &for_text)) return e;
  const bool compact = (type & kKbdKeyCompact) != 0;
  const char letter = index::KeyTypeLetter(type);
  fox::FoxNewTree tree;
  tree.layout = compact ? fox::FoxLayout::kCompact : fox::FoxLayout::kStandard;
  tree.options = index::KeyTypeUnique(type) ? fox::kFoxUnique : 0;
  tree.descending = (type & kKbdKeyDescending) != 0;
  if (tree.descending && !compact) return Fail(kKbdErrCommand);
  tree.expression = text;
  tree.for_expression = for_text;
  if (compact && text.size() + for_text.size() + 2 > fox::kFoxPoolSize)
    return Fail(kKbdErrKeyExpression);
  switch (letter) {
    case 'C':
      if (key_length < 1 || key_length > fox::kFoxMaxKeyLength)
        return Fail(kKbdErrKeySize);
      tree.key_length = key_length;
      break;
    case 'D':
    case 'N':
      tree.key_length = kDoubleKeySize;
      break;
    case 'L':
      tree.key_length = 1;
      break;
    default:
      return Fail(kKbdErrKeyType);
  }
  uint16_t slot = kNoFileSlot;
  if (int16_t e = FileCreate(&slot, name)) return e;
  fox::WriteEmptyTree(slot, 0, FirstNodeOffset(compact), tree);
  RunDespiteError([slot] { return FileClose(slot); });
  return StickyError();
}

// ---- Close ------------------------------------------------------------------

int16_t CloseIdx(int16_t handle) {
  IdxFile* file = CheckIdx(handle);
  if (file == nullptr) return kKbdErrHandle;
  const int16_t counted =
      fox::WritePendingFoxChanges(file->slot, &file->pending_changes);
  uint16_t slot = file->slot;
  file->slot = kNoFileSlot;
  int16_t closed = RunDespiteError([slot] { return FileClose(slot); });
  FreeHandle(handle);
  if (counted < 0) return counted;
  return closed < 0 ? Fail(closed) : int16_t{kKbdOk};
}

// ---- Record keys ------------------------------------------------------------

int16_t MakeIdxKey(int16_t dbf_handle, const IdxFile& file, uint8_t* key) {
  return fox::MakeFoxRecordKey(dbf_handle, file.expression,
                               static_cast<uint16_t>(file.key_length()), key);
}

}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdiopenx(int16_t* handle, const char* name, uint16_t mode) {
  return RunOperation([&] { return OpenIdx(handle, name, mode); });
}

extern "C" int16_t kbdicreate(const char* name, uint16_t type,
                              const char* expression, uint16_t key_length) {
  return RunOperation(
      [&] { return CreateIdx(name, type, expression, key_length, nullptr); });
}

extern "C" int16_t kbdicreatex(const char* name, uint16_t type,
                               const char* expression, uint16_t key_length,
                               const char* for_expression) {
  return RunOperation([&] {
    return CreateIdx(name, type, expression, key_length, for_expression);
  });
}

extern "C" int16_t kbdiclose(int16_t handle) {
  return RunOperation([&] { return CloseIdx(handle); });
}
