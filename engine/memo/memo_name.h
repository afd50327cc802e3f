// The name of a data file's memo file, by the naming rule of its family.
//
// dBASE, Clipper and the other families keep memos beside the data file
// with the extension ".dbt". The FoxPro families (dialects 4, 8 and 10) use
// ".fpt" for tables, and for the other kinds of files they store as tables
// their own companions:
//
//   data   memo   kind of file
//   .scx   .sct   form
//   .vcx   .vct   visual class library
//   .frx   .frt   report
//   .lbx   .lbt   label
//   .mnx   .mnt   menu
//   .pjx   .pjt   project
//   .dbc   .dct   database container
//
// The new extension takes the letter case of the data file's extension
// (its first letter decides); a name without extension gets it in lower
// case.
#ifndef QX_ENGINE_MEMO_MEMO_NAME_H_
#define QX_ENGINE_MEMO_MEMO_NAME_H_

#include <cstdint>
#include <string>

namespace qx::engine {

// True for the dialects whose memo files are FPT files.
bool UsesFptMemo(int dialect);

// The memo file name for data_name in dialect (1..10).
std::string MemoFileName(const std::string& data_name, int dialect);

}  // namespace qx::engine

#endif  // QX_ENGINE_MEMO_MEMO_NAME_H_
