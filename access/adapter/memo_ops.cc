// Memo files through the engine (see memo_ops.h).
#include "access/adapter/memo_ops.h"

#include <string>
#include <vector>

#include "access/adapter/engine_call.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

using adapter_internal::Call;
using adapter_internal::EngineFileName;

// The DBT module's dialect byte of the dBASE IV layout, and the version
// byte of the dBASE IV tables that use it.
constexpr uint16_t kDbtDbase4Layout = kKbdDbase4;
constexpr uint8_t kDbase4MemoVersion = 0x8B;
// The longer memo extensions add nothing to a name's length; room for a
// few more bytes all the same.
constexpr size_t kMemoNameSlack = 8;
// kbdtwrite's mode of a replaced value.
constexpr uint16_t kDbtReplace = 256;

int16_t Handle16(uint16_t handle) { return static_cast<int16_t>(handle); }

}  // namespace

MemoText::~MemoText() { Reset(); }

void MemoText::Reset() {
  kbdfree(data_);
  data_ = nullptr;
  length_ = 0;
  type_ = kFptText;
}

const char* MemoExtension(bool fpt) { return fpt ? ".fpt" : ".dbt"; }

int32_t UsesFptMemo(XbaseDialect dialect) {
  return IndexFamilyOf(dialect) == IndexFamily::kCdx ? 1 : 0;
}

std::u16string MemoFileName(XbaseDialect dialect,
                            std::u16string_view data_path) {
  // The rule changes only the extension's ASCII letters: the path goes
  // through the engine in code page 1252 and comes back alike.
  const std::string name = EngineFileName(data_path);
  std::vector<char> memo(name.size() + kMemoNameSlack, '\0');
  uint8_t kind = 0;
  if (Call(kbdmemoname, name.c_str(), static_cast<uint16_t>(dialect),
           memo.data(), static_cast<uint16_t>(memo.size()), &kind) < 0)
    return {};
  return platform::AnsiToUtf16(memo.data());
}

uint16_t DbtLayoutBits(uint8_t dbf_version) {
  return dbf_version == kDbase4MemoVersion ? kDbtDbase4Layout : 0;
}

int32_t OpenMemo(bool fpt, std::u16string_view path, uint16_t* handle,
                 uint16_t mode) {
  *handle = kNoMemoHandle;
  const std::string name = EngineFileName(path);
  int16_t opened = -1;
  const int32_t status = fpt ? Call(kbdfopenx, &opened, name.c_str(), mode)
                             : Call(kbdtopenx, &opened, name.c_str(), mode);
  if (status >= 0) *handle = static_cast<uint16_t>(opened);
  return status;
}

int32_t OpenLoneMemo(bool fpt, std::u16string_view path, uint16_t* handle,
                     uint16_t mode) {
  const uint16_t bits = mode & ~uint16_t{kKbdModeDialectMask};
  if (fpt) return OpenMemo(true, path, handle, bits);
  // A dBASE III file refuses the dBASE IV layout.
  const int32_t status = OpenMemo(
      false, path, handle, static_cast<uint16_t>(bits | kDbtDbase4Layout));
  if (status >= 0) return status;
  return OpenMemo(false, path, handle, bits);
}

int32_t MemoInfo(bool fpt, uint16_t handle, uint32_t* block_size,
                 uint32_t* next_free) {
  return fpt ? Call(kbdfinfo, Handle16(handle), block_size, next_free)
             : Call(kbdtinfo, Handle16(handle), block_size, next_free);
}

int32_t CloseMemo(bool fpt, uint16_t handle) {
  return fpt ? Call(kbdfclose, Handle16(handle))
             : Call(kbdtclose, Handle16(handle));
}

int32_t PackMemo(bool fpt, uint16_t* handle, uint16_t dbf_handle) {
  int16_t memo = Handle16(*handle);
  const int32_t status = fpt ? Call(kbdfpack, Handle16(dbf_handle), &memo)
                             : Call(kbdtpack, Handle16(dbf_handle), &memo);
  *handle = static_cast<uint16_t>(memo);
  return status;
}

int32_t ReadMemo(bool fpt, uint16_t dbf_handle, uint16_t memo_handle,
                 int32_t field, MemoText* text) {
  text->Reset();
  uint32_t block = 0;
  int32_t status = Call(kbddmemoblock, Handle16(dbf_handle),
                        static_cast<int16_t>(field), &block);
  if (status < 0 || block == 0) return status;
  if (fpt) {
    status = Call(kbdfreadx, Handle16(memo_handle), block, &text->data_,
                  &text->length_, &text->type_);
  } else {
    status = Call(kbdtreadx, Handle16(memo_handle), block, &text->data_,
                  &text->length_);
  }
  if (status < 0) text->Reset();
  return status;
}

int32_t WriteMemo(bool fpt, uint16_t memo_handle, uint32_t* block,
                  std::string_view data, uint16_t block_size_argument,
                  uint32_t fpt_type) {
  if (fpt)
    return Call(kbdfwritex, Handle16(memo_handle), block, data.data(),
                static_cast<uint32_t>(data.size()), fpt_type);
  uint16_t mode = block_size_argument;
  if (mode == kDbtReplace && *block == 0) mode = 0;
  const std::string text(data);  // DBT values are NUL-terminated texts
  return Call(kbdtwrite, Handle16(memo_handle), block, text.c_str(), mode);
}

int32_t CreateMemo(bool fpt, std::u16string_view path, XbaseDialect dialect,
                   int16_t block_argument) {
  const std::string name = EngineFileName(path);
  if (fpt) return Call(kbdfcreate, name.c_str(), block_argument);
  const bool named = dialect == kKbdDbase3 || dialect == kKbdDbase4 ||
                     dialect == kKbdFoxbase || dialect == kKbdClipper ||
                     dialect == kKbdClipper5 || dialect == kKbdDbxl;
  return Call(kbdtcreate, name.c_str(), block_argument,
              static_cast<uint16_t>(named ? dialect : kKbdDbase3));
}

}  // namespace qx::access
