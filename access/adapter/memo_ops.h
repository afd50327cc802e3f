// Memo files through the engine: FPT for the FoxPro families (dialects 4,
// 8, 10), DBT for every other. The memo of a field is found by the block
// number the data file stores for it.
#ifndef QX_ACCESS_ADAPTER_MEMO_OPS_H_
#define QX_ACCESS_ADAPTER_MEMO_OPS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "access/adapter/dialects.h"

namespace qx::access {

inline constexpr uint16_t kNoMemoHandle = 0xFFFF;
// The open mode of a table's memo file: shared, read and write.
inline constexpr uint16_t kMemoOpenMode = 0xE00;
// The block argument of a new memo file: FPT blocks of 2 × 512 bytes,
// DBT blocks of 2 × 512 bytes.
inline constexpr int16_t kMemoCreateBlocks = 2;
// FPT value types (kbdfwritex).
inline constexpr uint32_t kFptPicture = 0;  // binary
inline constexpr uint32_t kFptText = 1;

// ".fpt" or ".dbt".
const char* MemoExtension(bool fpt);
// 1 for the FoxPro families, else 0.
int32_t UsesFptMemo(XbaseDialect dialect);
// The memo file of a data file in the dialect, by the engine's naming rule
// (the data path with ".dbt" or ".fpt", and the FoxPro companions of
// forms, reports, labels, menus, projects and class libraries: .sct ...).
// Empty when the dialect is outside 1..10 or the name does not fit.
std::u16string MemoFileName(XbaseDialect dialect,
                            std::u16string_view data_path);

// The low byte of a DBT memo's open mode: the dBASE IV layout for a dBASE
// IV table with memo (version byte 0x8B), else the dBASE III layout (0).
uint16_t DbtLayoutBits(uint8_t dbf_version);

// mode: the open-mode word; for a DBT file its low byte chooses the
// layout (DbtLayoutBits).
int32_t OpenMemo(bool fpt, std::u16string_view path, uint16_t* handle,
                 uint16_t mode = kMemoOpenMode);
// Ours: opens a memo file without its table: a DBT file in the layout
// its header announces (dBASE IV when it does, else dBASE III).
int32_t OpenLoneMemo(bool fpt, std::u16string_view path, uint16_t* handle,
                     uint16_t mode);
int32_t CloseMemo(bool fpt, uint16_t handle);
// Ours: the block size in bytes and the next free block, from the file.
int32_t MemoInfo(bool fpt, uint16_t handle, uint32_t* block_size,
                 uint32_t* next_free);
// Packs the memo file of the data file; *handle becomes the reopened
// file's.
int32_t PackMemo(bool fpt, uint16_t* handle, uint16_t dbf_handle);

// A memo value read: its bytes (engine memory, released when the owner
// goes), its length and, for FPT files, its type.
class MemoText {
 public:
  MemoText() = default;
  ~MemoText();
  MemoText(const MemoText&) = delete;
  MemoText& operator=(const MemoText&) = delete;

  bool present() const { return data_ != nullptr; }
  std::string_view bytes() const { return {data_, length_}; }
  uint32_t type() const { return type_; }  // kFptText for DBT values
  void Reset();

 private:
  friend int32_t ReadMemo(bool, uint16_t, uint16_t, int32_t, MemoText*);
  char* data_ = nullptr;
  uint32_t length_ = 0;
  uint32_t type_ = kFptText;
};

// Reads the memo of field number field (from 0) of the data file's
// current record: block number 0 gives no text and status 0.
int32_t ReadMemo(bool fpt, uint16_t dbf_handle, uint16_t memo_handle,
                 int32_t field, MemoText* text);
// Writes a value; *block in: the value to replace (0: a new value), out:
// where it now starts. DBT: the block-size argument is the write's mode
// word (0x100 replace, the low byte the line width), 0 in place of 256
// for a new value; the text must not hold a NUL. FPT: the value is
// written with its type (kFptText, kFptPicture), whatever its bytes.
int32_t WriteMemo(bool fpt, uint16_t memo_handle, uint32_t* block,
                  std::string_view data, uint16_t block_size_argument,
                  uint32_t fpt_type = kFptText);
// Creates a memo file: FPT with blocks block_argument (1..32: × 512 bytes,
// 33..511: bytes); DBT with block factor block_argument (× 512 bytes) and
// the layout of the dialect when it is 1, 2, 3, 5, 6 or 7, else 1's.
int32_t CreateMemo(bool fpt, std::u16string_view path, XbaseDialect dialect,
                   int16_t block_argument = kMemoCreateBlocks);

}  // namespace qx::access

#endif  // QX_ACCESS_ADAPTER_MEMO_OPS_H_
