// Building an IDX index over an existing data file (kbdibuild): the empty
// index is created, the data file locked (the builds' lock mode) and read
// in record order, deleted records included and those the FOR condition
// excludes left out, every key sorted through the work file and the tree
// built bottom-up; its first node takes the place of the empty root leaf. Whatever happens the work file is deleted, the
// lock dropped and the index closed; a failed build deletes the index.
//
// Compact leaves get record-number fields wide enough for the data file's
// record count, so the build never needs to widen them.
#include "engine/btree/external_sort.h"
#include "engine/btree/file_words.h"
#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/fox/fox_fill.h"
#include "engine/fox/fox_format.h"
#include "engine/idx/idx_file.h"
#include "engine/index/index_build.h"
#include "engine/index/key_type_word.h"

namespace qx::engine {
namespace {

int16_t FillIdx(int16_t dbf_handle, uint32_t record_count, IdxFile* index) {
  fox::FoxFill fill;
  fill.dbf_handle = dbf_handle;
  fill.record_count = record_count;
  fill.expression = index->expression;
  fill.for_expression = index->header.for_expression;
  fill.file_slot = index->slot;
  fill.layout = index->header.layout();
  fill.key_length = index->key_length();
  fill.pad = index->pad();
  fill.unique = index->unique();
  fill.reuse_node = index->header.root;
  uint32_t root = 0;
  if (int16_t e = fox::FillFoxTree(fill, &root)) return e;
  return btree::WriteLe32At(index->slot, fox::kFoxHeaderRootOffset, root);
}

int16_t BuildIdx(int16_t dbf_handle, const char* name, uint16_t type,
                 const char* expression, uint16_t key_length,
                 const char* for_expression) {
  index::IndexBuildSteps steps;
  steps.create = [&] {
    return CreateIdx(name, type, expression, key_length, for_expression);
  };
  steps.open = [&](int16_t* handle) { return OpenIdx(handle, name, 0); };
  // The tree sorts through its own work file; the frame's sorter stays
  // unused.
  steps.fill = [&](int16_t handle, uint32_t record_count,
                   btree::ExternalSort* /*sorter*/) -> int16_t {
    IdxFile* index = CheckIdx(handle);
    if (index == nullptr) return kKbdErrHandle;
    index->key_type = index::KeyTypeLetter(type);
    return FillIdx(dbf_handle, record_count, index);
  };
  steps.close = [](int16_t handle) { return CloseIdx(handle); };
  // No record: the empty root leaf as created stays.
  steps.when_empty = index::EmptySource::kOpenOnly;
  return index::BuildIndexFile(dbf_handle, name, expression, steps);
}

}  // namespace
}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdibuild(int16_t dbf_handle, const char* name,
                             uint16_t type, const char* expression,
                             uint16_t key_length) {
  return RunOperation([&] {
    return BuildIdx(dbf_handle, name, type, expression, key_length, nullptr);
  });
}

extern "C" int16_t kbdibuildx(int16_t dbf_handle, const char* name,
                              uint16_t type, const char* expression,
                              uint16_t key_length, const char* for_expression) {
  return RunOperation([&] {
    return BuildIdx(dbf_handle, name, type, expression, key_length,
                    for_expression);
  });
}
