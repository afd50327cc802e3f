// The operation locks of shared files, proved between processes, once per
// index family (NDX, MDX, NTX, IDX, CDX, each with its table's memo file):
// writers append, or update, delete and append, through a table with a
// memo field and two indexes at the same time while readers walk and seek
// both indexes. Afterwards the table holds every record once, every memo
// reads back as written, both indexes pass their check and hold exactly
// the records' keys, and no reader saw keys out of order or twice. One run
// kills a writer in the middle of its work: the others finish, its records
// stay whole but for the last one, which is in the table without keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/btree/btree_check.h"
#include "engine/cdx/cdx_check.h"
#include "engine/idx/idx_check.h"
#include "engine/mdx/mdx_check.h"
#include "engine/ndx/ndx_check.h"
#include "engine/ntx/ntx_check.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::engine::testing {
namespace {

using qx::testing::ChildGroup;

enum class Kind { kNdx, kMdx, kNtx, kIdx, kCdx };

using EntrySink = std::function<void(const uint8_t* key, uint32_t recno)>;

// A family's key operations on one index: a file handle (NDX, NTX, IDX)
// or a tag identifier (MDX, CDX), held as int32_t. seek positions on the
// first entry of a whole key (0 on an equal one).
struct KeyOps {
  int16_t (*add)(int32_t id, const void* key, uint32_t recno);
  int16_t (*del)(int32_t id, const void* key, uint32_t recno);
  int16_t (*first)(int32_t id, void* key, uint32_t* recno);
  int16_t (*next)(int32_t id, void* key, uint32_t* recno);
  int16_t (*seek)(int32_t id, void* key, uint32_t* recno);
  int16_t (*check)(int32_t id, btree::CheckReport* report,
                   const EntrySink& sink);
};

// An operation of a file handle's family over an int32_t identifier.
template <auto kFunction, typename A, typename B>
int16_t OnHandle(int32_t id, A a, B b) {
  return kFunction(static_cast<int16_t>(id), a, b);
}
template <auto kFunction>
constexpr auto kChange = OnHandle<kFunction, const void*, uint32_t>;
template <auto kFunction>
constexpr auto kMove = OnHandle<kFunction, void*, uint32_t*>;
template <auto kFunction>
constexpr auto kCheck =
    OnHandle<kFunction, btree::CheckReport*, const EntrySink&>;

constexpr KeyOps kNdxOps = {kChange<kbdnkadd>,
                            kChange<kbdnkdel>,
                            kMove<kbdnkfirst>,
                            kMove<kbdnknext>,
                            [](int32_t h, void* k, uint32_t* r) {
                              return kbdnkfind(static_cast<int16_t>(h), k, r,
                                               0);
                            },
                            kCheck<CheckNdx>};
constexpr KeyOps kNtxOps = {kChange<kbdxadd>,
                            kChange<kbdxdelete>,
                            kMove<kbdxfirst>,
                            kMove<kbdxnext>,
                            [](int32_t h, void* k, uint32_t* r) {
                              return kbdxseek(static_cast<int16_t>(h), k, r,
                                              kKbdSeekKey);
                            },
                            kCheck<CheckNtx>};
constexpr KeyOps kIdxOps = {kChange<kbdiadd>,
                            kChange<kbdidelete>,
                            kMove<kbdifirst>,
                            kMove<kbdinext>,
                            [](int32_t h, void* k, uint32_t* r) {
                              return kbdiseek(static_cast<int16_t>(h), k, r,
                                              kKbdSeekKey);
                            },
                            kCheck<CheckIdx>};
constexpr KeyOps kMdxOps = {
    kbdmkadd,
    kbdmkdel,
    kbdmkfirst,
    kbdmknext,
    [](int32_t t, void* k, uint32_t* r) { return kbdmkfind(t, k, r, 0); },
    CheckMdxTag};
constexpr KeyOps kCdxOps = {
    kbdcadd,
    kbdcdelete,
    kbdcfirst,
    kbdcnext,
    [](int32_t t, void* k, uint32_t* r) { return kbdcfind(t, k, r, 1); },
    CheckCdxTag};

struct Family {
  const char* name;
  Kind kind;
  uint16_t dialect;  // of the table and of every open
  bool fpt;          // FPT memo file, else DBT in the dialect's layout
  const KeyOps* ops;
};

constexpr Family kFamilies[] = {
    {"ndx", Kind::kNdx, kKbdDbase3, false, &kNdxOps},
    {"mdx", Kind::kMdx, kKbdDbase4, false, &kMdxOps},
    {"ntx", Kind::kNtx, kKbdClipper, false, &kNtxOps},
    {"idx", Kind::kIdx, kKbdFoxpro2, true, &kIdxOps},
    {"cdx", Kind::kCdx, kKbdFoxpro2, true, &kCdxOps},
};

// The table: WHO N(2), SEQ N(6), VER N(6), NAME C(10), CODE C(10), NOTE M;
// index 0 on NAME, index 1 on CODE, both keys of the field's 10 bytes.
enum Field : int16_t { kWho, kSeq, kVer, kName, kCode, kNote };
constexpr uint16_t kKeyLength = 10;
constexpr const char* kExpressions[2] = {"NAME", "CODE"};
constexpr const char* kTags[2] = {"BYNAME", "BYCODE"};

std::string Padded(std::string text) {
  text.resize(kKeyLength, ' ');
  return text;
}

// The keys of record (who, seq) at version ver: scattered over the key
// space (so that splits happen everywhere), unique for every (who, seq)
// of an append and every (recno, ver) of an update.
std::string NameKey(int who, int seq, int ver, uint32_t recno) {
  char text[32];
  if (ver == 0)
    std::snprintf(text, sizeof text, "%07u%d", (seq * 7919u) % 9999991u, who);
  else
    std::snprintf(text, sizeof text, "U%05u%04d", recno, ver);
  return Padded(text);
}
std::string CodeKey(int who, int seq, int ver, uint32_t recno) {
  char text[32];
  if (ver == 0)
    std::snprintf(text, sizeof text, "%d%07u", who, (seq * 104729u) % 9999991u);
  else
    std::snprintf(text, sizeof text, "V%04d%05u", ver, recno);
  return Padded(text);
}

// The memo of (who, seq, ver): 0..699 bytes after a label, so that values
// take one or several blocks.
std::string MemoText(int who, int seq, int ver) {
  char label[48];
  std::snprintf(label, sizeof label, "W%d S%d V%d ", who, seq, ver);
  std::string text = label;
  const size_t length = (seq * 37u + ver * 11u + who * 5u) % 700u;
  for (size_t i = 0; i < length; ++i)
    text.push_back(static_cast<char>('a' + (i * 7 + seq + ver) % 26));
  return text;
}

std::string Path(const std::string& dir, const Family& f, int which) {
  if (f.kind == Kind::kMdx) return dir + "/t.mdx";
  if (f.kind == Kind::kCdx) return dir + "/t.cdx";
  return dir + "/" + kExpressions[which] + "." + f.name;
}

// Creates the table, its memo file and the two empty indexes.
void CreateFiles(const Family& f, const std::string& dir) {
  KbdFieldDef defs[6] = {};
  auto def = [&](int i, const char* name, char type, uint16_t length) {
    std::snprintf(defs[i].name, sizeof defs[i].name, "%s", name);
    defs[i].type = static_cast<uint16_t>(type);
    defs[i].length = length;
  };
  def(kWho, "WHO", 'N', 2);
  def(kSeq, "SEQ", 'N', 6);
  def(kVer, "VER", 'N', 6);
  def(kName, "NAME", 'C', kKeyLength);
  def(kCode, "CODE", 'C', kKeyLength);
  def(kNote, "NOTE", 'M',
      f.kind == Kind::kIdx || f.kind == Kind::kCdx ? 4 : 10);
  const std::string table = dir + "/t.dbf";
  ASSERT_EQ(kbddcreate(table.c_str(), 6, defs, f.dialect), kKbdOk);
  if (f.fpt)
    ASSERT_EQ(kbdfcreate((dir + "/t.fpt").c_str(), 64), kKbdOk);
  else
    ASSERT_EQ(kbdtcreate((dir + "/t.dbt").c_str(), 1, f.dialect), kKbdOk);
  int16_t h = kKbdNoHandle;
  switch (f.kind) {
    case Kind::kNdx:
      for (int i = 0; i < 2; ++i)
        ASSERT_EQ(kbdncreate(Path(dir, f, i).c_str(), 'C', kExpressions[i],
                             kKeyLength),
                  kKbdOk);
      break;
    case Kind::kNtx:
      for (int i = 0; i < 2; ++i)
        ASSERT_EQ(kbdxcreate(Path(dir, f, i).c_str(), 'C', kExpressions[i],
                             kKeyLength, 0),
                  kKbdOk);
      break;
    case Kind::kIdx:
      for (int i = 0; i < 2; ++i)
        ASSERT_EQ(kbdicreate(Path(dir, f, i).c_str(), 'C' | kKbdKeyCompact,
                             kExpressions[i], kKeyLength),
                  kKbdOk);
      break;
    case Kind::kMdx:
      ASSERT_EQ(kbdmcreate(Path(dir, f, 0).c_str()), kKbdOk);
      ASSERT_EQ(kbdmopenx(&h, Path(dir, f, 0).c_str(), f.dialect), kKbdOk);
      for (int i = 0; i < 2; ++i)
        ASSERT_EQ(kbdmtagdef(h, kTags[i], 'C', kExpressions[i], kKeyLength),
                  kKbdOk);
      ASSERT_EQ(kbdmclose(h), kKbdOk);
      break;
    case Kind::kCdx:
      ASSERT_EQ(kbdccreate(Path(dir, f, 0).c_str()), kKbdOk);
      ASSERT_EQ(kbdcopenx(&h, Path(dir, f, 0).c_str(), f.dialect), kKbdOk);
      for (int i = 0; i < 2; ++i)
        ASSERT_EQ(kbdctagcreate(h, kTags[i], 'C', kExpressions[i], kKeyLength),
                  kKbdOk);
      ASSERT_EQ(kbdcclose(h), kKbdOk);
      break;
  }
}

// One process's shared opens of the table, its memo file and both
// indexes, with the family's operations. Every call resets the last error
// first and answers the engine status.
class SharedTable {
 public:
  SharedTable(const Family& f, std::string dir) : f_(f), dir_(std::move(dir)) {}
  ~SharedTable() { Close(); }

  int16_t Open(bool read_only) {
    const uint16_t mode = static_cast<uint16_t>(
        f_.dialect | kKbdModeShared | (read_only ? kKbdModeReadOnly : 0));
    kbdseterror(0);
    if (int16_t s = kbddopenx(&dbf_, (dir_ + "/t.dbf").c_str(), mode); s < 0)
      return s;
    const uint16_t fpt_mode =
        static_cast<uint16_t>(mode & ~kKbdModeDialectMask);
    int16_t s = f_.fpt ? kbdfopenx(&memo_, (dir_ + "/t.fpt").c_str(), fpt_mode)
                       : kbdtopenx(&memo_, (dir_ + "/t.dbt").c_str(), mode);
    if (s < 0) return s;
    for (int i = 0; i < 2; ++i) {
      const std::string path = Path(dir_, f_, i);
      switch (f_.kind) {
        case Kind::kNdx:
          s = kbdnopenx(&file_[i], path.c_str(), mode);
          ids_[i] = file_[i];
          break;
        case Kind::kNtx:
          s = kbdxopenx(&file_[i], path.c_str(), mode);
          ids_[i] = file_[i];
          break;
        case Kind::kIdx:
          s = kbdiopenx(&file_[i], path.c_str(), mode);
          ids_[i] = file_[i];
          break;
        case Kind::kMdx:
          if (i == 0) s = kbdmopenx(&file_[0], path.c_str(), mode);
          if (s >= 0) s = kbdmtagopen(&ids_[i], file_[0], kTags[i]);
          break;
        case Kind::kCdx:
          if (i == 0) s = kbdcopenx(&file_[0], path.c_str(), mode);
          if (s >= 0) s = kbdctagopen(&ids_[i], file_[0], kTags[i]);
          break;
      }
      if (s < 0) return s;
    }
    return kKbdOk;
  }

  void Close() {
    kbdseterror(0);
    for (int i = 0; i < 2; ++i) {
      if (file_[i] < 0) continue;
      switch (f_.kind) {
        case Kind::kNdx:
          kbdnclose(file_[i]);
          break;
        case Kind::kNtx:
          kbdxclose(file_[i]);
          break;
        case Kind::kIdx:
          kbdiclose(file_[i]);
          break;
        case Kind::kMdx:
          kbdmclose(file_[i]);
          break;
        case Kind::kCdx:
          kbdcclose(file_[i]);
          break;
      }
      file_[i] = kKbdNoHandle;
    }
    if (memo_ >= 0) f_.fpt ? kbdfclose(memo_) : kbdtclose(memo_);
    if (dbf_ >= 0) kbddclose(dbf_);
    memo_ = dbf_ = kKbdNoHandle;
  }

  int16_t dbf() const { return dbf_; }

  int16_t Add(int which, const std::string& key, uint32_t recno) {
    return Change(which, key, recno, true);
  }
  int16_t Delete(int which, const std::string& key, uint32_t recno) {
    return Change(which, key, recno, false);
  }

  // The first entry (0; 2 or 3 at the end).
  int16_t First(int which, std::string* key, uint32_t* recno) {
    char buffer[kKeyLength + 1] = {};
    kbdseterror(0);
    const int16_t s = f_.ops->first(ids_[which], buffer, recno);
    key->assign(buffer, kKeyLength);
    return s;
  }

  // The entry after (*key, *recno), the entry given last.
  int16_t Next(int which, std::string* key, uint32_t* recno) {
    char buffer[kKeyLength + 1] = {};
    std::memcpy(buffer, key->data(), kKeyLength);
    kbdseterror(0);
    const int16_t s = f_.ops->next(ids_[which], buffer, recno);
    key->assign(buffer, kKeyLength);
    return s;
  }

  // Seeks the whole key: 0 with *recno when an entry holds it, else a
  // status of not found (2, 3, 4 or 12).
  int16_t Seek(int which, const std::string& key, uint32_t* recno) {
    char buffer[kKeyLength + 1] = {};
    std::memcpy(buffer, key.data(), kKeyLength);
    kbdseterror(0);
    *recno = 0;
    const int16_t s = f_.ops->seek(ids_[which], buffer, recno);
    if (s == kKbdOk && std::memcmp(buffer, key.data(), kKeyLength) != 0)
      return kKbdKeyNotFound;
    return s;
  }

  // A new memo value (for a DBT, replacing the value at old_block when
  // there is one, so that its blocks are used again).
  int16_t WriteMemo(const std::string& text, uint32_t old_block,
                    uint32_t* block) {
    kbdseterror(0);
    *block = old_block;
    if (f_.fpt) return kbdfwrite(memo_, block, text.c_str());
    return kbdtwrite(memo_, block, text.c_str(),
                     old_block != 0 ? kKbdMemoReplace : 0);
  }

  int16_t ReadMemo(uint32_t block, std::string* text) {
    char* data = nullptr;
    kbdseterror(0);
    int16_t s =
        f_.fpt ? kbdfread(memo_, block, &data) : kbdtread(memo_, block, &data);
    if (s >= 0) text->assign(data != nullptr ? data : "");
    kbdfree(data);
    return s;
  }

  // The structural check of index which; every entry to *entries.
  int16_t Check(int which, btree::CheckReport* report,
                std::vector<std::pair<std::string, uint32_t>>* entries) {
    kbdseterror(0);
    return f_.ops->check(
        ids_[which], report, [entries](const uint8_t* key, uint32_t recno) {
          entries->emplace_back(
              std::string(reinterpret_cast<const char*>(key), kKeyLength),
              recno);
        });
  }

 private:
  int16_t Change(int which, const std::string& key, uint32_t recno, bool add) {
    char buffer[kKeyLength + 1] = {};
    std::memcpy(buffer, key.data(), kKeyLength);
    kbdseterror(0);
    return (add ? f_.ops->add : f_.ops->del)(ids_[which], buffer, recno);
  }

  const Family& f_;
  const std::string dir_;
  int16_t dbf_ = kKbdNoHandle;
  int16_t memo_ = kKbdNoHandle;
  int16_t file_[2] = {kKbdNoHandle, kKbdNoHandle};
  int32_t ids_[2] = {kKbdNoHandle, kKbdNoHandle};
};

// A record as the table holds it.
struct Record {
  int who = 0, seq = 0, ver = 0;
  std::string name, code;
  uint32_t memo_block = 0;
  bool deleted = false;
};

double Number(int16_t dbf, int16_t field) {
  double value = -1;
  kbddget(dbf, field, &value);
  return value;
}

std::string Text(int16_t dbf, int16_t field) {
  char value[kKeyLength + 1] = {};
  kbddget(dbf, field, value);
  return Padded(value);
}

int16_t ReadRecord(int16_t dbf, uint32_t recno, Record* r) {
  kbdseterror(0);
  int16_t s = kbddread(dbf, recno);
  if (s < 0) return s;
  r->deleted = s == kKbdDeletedRecord;
  r->who = static_cast<int>(Number(dbf, kWho));
  r->seq = static_cast<int>(Number(dbf, kSeq));
  r->ver = static_cast<int>(Number(dbf, kVer));
  r->name = Text(dbf, kName);
  r->code = Text(dbf, kCode);
  return kbddmemoblock(dbf, kNote, &r->memo_block);
}

// A failed step of a child: its report on stderr and its exit status.
int Failed(const char* who, int step, int16_t status) {
  std::fprintf(stderr, "%s: step %d, status %d\n", who, step, status);
  return step;
}

// Appends record (who, seq) with its memo and both keys; *recno gets its
// number. 0, or the failed step (1..6).
int AppendRecord(SharedTable& t, int who, int seq, uint32_t* recno,
                 bool add_keys = true) {
  const int16_t dbf = t.dbf();
  kbdseterror(0);
  if (int16_t s = kbddblankrec(dbf); s < 0) return Failed("append", 1, s);
  const double values[3] = {static_cast<double>(who), static_cast<double>(seq),
                            0.0};
  const std::string name = NameKey(who, seq, 0, 0);
  const std::string code = CodeKey(who, seq, 0, 0);
  for (int16_t f = kWho; f <= kVer; ++f)
    if (int16_t s = kbddput(dbf, f, &values[f]); s < 0)
      return Failed("append", 2, s);
  if (kbddput(dbf, kName, name.c_str()) < 0 ||
      kbddput(dbf, kCode, code.c_str()) < 0)
    return Failed("append", 2, kbdgeterror());
  uint32_t block = 0;
  if (int16_t s = t.WriteMemo(MemoText(who, seq, 0), 0, &block); s < 0)
    return Failed("append", 3, s);
  if (int16_t s = kbddsetmemoblock(dbf, kNote, block); s < 0)
    return Failed("append", 4, s);
  if (int16_t s = kbddwrite(dbf, recno, kKbdWriteAppend); s < 0)
    return Failed("append", 5, s);
  if (!add_keys) return 0;
  for (int i = 0; i < 2; ++i)
    if (int16_t s = t.Add(i, i == 0 ? name : code, *recno); s != kKbdOk)
      return Failed("append", 6, s);
  return 0;
}

// Whether a key delete found no entry (the statuses of the families).
bool Absent(int16_t s) {
  return s == kKbdKeyNotFound || s == kKbdEmptyFile || s == kKbdKeyNotFoundEnd;
}

// Releases the record lock of an update that changed nothing: 0, or the
// failed step 17.
int Unlocked(int16_t dbf, uint32_t recno) {
  kbdseterror(0);
  const int16_t s = kbddlockrec(dbf, recno, kKbdLockRecUnlock);
  return s < 0 ? Failed("update", 17, s) : 0;
}

// Gives a record its next version: new keys, a new memo value, the
// record rewritten, all under the record's lock. 0, the failed step
// (10..17), or 0 without a change when another process holds the lock.
int UpdateRecord(SharedTable& t, uint32_t recno) {
  const int16_t dbf = t.dbf();
  kbdseterror(0);
  int16_t s = kbddlockrec(dbf, recno, kKbdLockRec);
  if (s == kKbdErrLockViolation) return 0;  // another writer's: leave it
  if (s < 0) return Failed("update", 10, s);
  Record r;
  if (s = ReadRecord(dbf, recno, &r); s < 0) return Failed("update", 11, s);
  const int ver = r.ver + 1;
  const std::string name = NameKey(r.who, r.seq, ver, recno);
  const std::string code = CodeKey(r.who, r.seq, ver, recno);
  // A record another writer has just appended may lack its keys still: an
  // append adds them after writing the record, and takes no record lock.
  // Such a record (version 0) is left to its writer.
  if (s = t.Delete(0, r.name, recno); s != kKbdOk) {
    if (Absent(s) && r.ver == 0) return Unlocked(dbf, recno);
    return Failed("update", 12, s);
  }
  if (s = t.Delete(1, r.code, recno); s != kKbdOk) {
    if (Absent(s) && r.ver == 0) {
      if (s = t.Add(0, r.name, recno); s != kKbdOk)
        return Failed("update", 12, s);
      return Unlocked(dbf, recno);
    }
    return Failed("update", 12, s);
  }
  uint32_t block = 0;
  if (s = t.WriteMemo(MemoText(r.who, r.seq, ver), r.memo_block, &block); s < 0)
    return Failed("update", 13, s);
  const double version = ver;
  kbdseterror(0);
  if (kbddput(dbf, kVer, &version) < 0 ||
      kbddput(dbf, kName, name.c_str()) < 0 ||
      kbddput(dbf, kCode, code.c_str()) < 0 ||
      kbddsetmemoblock(dbf, kNote, block) < 0)
    return Failed("update", 14, kbdgeterror());
  uint32_t at = recno;
  if (s = kbddwrite(dbf, &at, kKbdWriteRewrite); s < 0)
    return Failed("update", 15, s);
  if (s = t.Add(0, name, recno); s != kKbdOk) return Failed("update", 16, s);
  if (s = t.Add(1, code, recno); s != kKbdOk) return Failed("update", 16, s);
  return Unlocked(dbf, recno);
}

// Deletes a live record or recalls a deleted one, under its lock.
int ToggleDeleted(SharedTable& t, uint32_t recno) {
  const int16_t dbf = t.dbf();
  kbdseterror(0);
  int16_t s = kbddlockrec(dbf, recno, kKbdLockRec);
  if (s == kKbdErrLockViolation) return 0;
  if (s < 0) return Failed("delete", 20, s);
  kbdseterror(0);
  s = kbddread(dbf, recno);
  if (s < 0) return Failed("delete", 21, s);
  kbdseterror(0);
  s = s == kKbdDeletedRecord ? kbddrecall(dbf, recno) : kbdddelete(dbf, recno);
  if (s < 0) return Failed("delete", 22, s);
  kbdseterror(0);
  if (s = kbddlockrec(dbf, recno, kKbdLockRecUnlock); s < 0)
    return Failed("delete", 23, s);
  return 0;
}

// A reader: walks both indexes and seeks keys until the writers are done,
// then walks once more. Every walk must be in strictly rising (key,
// record) order with no key twice; a key found by a seek must lead to a
// record that holds it. The last walks must count every record but
// index_less of them.
int Reader(const Family& f, const std::string& dir, int index,
           const ChildGroup::Context& context, int writers, int seqs,
           uint32_t index_less = 0) {
  SharedTable t(f, dir);
  if (int16_t s = t.Open(true); s < 0) return Failed("reader open", 30, s);
  std::mt19937 rng(1234u + index);
  for (;;) {
    const bool last = context.StopRequested();
    for (int which = 0; which < 2; ++which) {
      std::set<std::string> keys;
      std::string key, previous;
      uint32_t recno = 0;
      int16_t s = t.First(which, &key, &recno);
      while (s == kKbdOk) {
        if (!previous.empty() && key <= previous)
          return Failed("reader walk order", 31, s);
        if (!keys.insert(key).second) return Failed("reader walk twice", 32, s);
        previous = key;
        s = t.Next(which, &key, &recno);
      }
      if (s != kKbdNoMoreKeys && s != kKbdEmptyFile)
        return Failed("reader walk", 33, s);
      if (last) {
        // The count as the header holds it now: read again by a lock that
        // tests the record-lock range (file-lock mode 5, nothing held). The
        // test takes the range for a moment and never waits: the other
        // reader's test at the same moment refuses it, so it is asked again.
        uint32_t count = 0;
        int16_t e = kKbdErrLockViolation;
        for (int tries = 0; e == kKbdErrLockViolation && tries < 1000000;
             ++tries) {
          kbdseterror(0);
          e = kbddlock(t.dbf(), 5);
        }
        if (e < 0) return Failed("reader count", 34, e);
        kbddreccount(t.dbf(), &count);
        if (keys.size() + index_less != count)
          return Failed("reader last walk", 34, s);
      }
    }
    if (last) return 0;
    for (int n = 0; n < 16; ++n) {
      const int who = static_cast<int>(rng() % writers);
      const int seq = static_cast<int>(rng() % seqs);
      const std::string key = NameKey(who, seq, 0, 0);
      uint32_t recno = 0;
      const int16_t s = t.Seek(0, key, &recno);
      if (s < 0) return Failed("reader seek", 35, s);
      if (s != kKbdOk) continue;
      Record r;
      if (int16_t e = ReadRecord(t.dbf(), recno, &r); e < 0)
        return Failed("reader seek read", 36, e);
      // The record may have moved on to a later version since the seek.
      if (r.name != key && r.ver == 0)
        return Failed("reader seek record", 37, 0);
    }
  }
}

class OperationLockTest : public ::testing::TestWithParam<Family> {
 protected:
  void SetUp() override {
    ASSERT_EQ(kbdinit(32767, 64), kKbdOk);
    kbdsetsync(0);
  }
  void TearDown() override { kbdterm(); }

  // Checks the files after a run: every record's memo and keys, both
  // indexes' structure and entries; the records by (who, seq).
  std::map<std::pair<int, int>, uint32_t> Verify(
      const std::set<std::pair<int, int>>& index_less = {}) {
    const Family& f = GetParam();
    SharedTable t(f, dir_.path());
    EXPECT_EQ(t.Open(false), kKbdOk);
    uint32_t count = 0;
    kbdseterror(0);
    EXPECT_EQ(kbddreccount(t.dbf(), &count), kKbdOk);
    std::map<std::pair<int, int>, uint32_t> records;
    std::vector<std::pair<std::string, uint32_t>> expected[2];
    for (uint32_t recno = 1; recno <= count; ++recno) {
      Record r;
      EXPECT_GE(ReadRecord(t.dbf(), recno, &r), 0) << recno;
      EXPECT_TRUE(records.emplace(std::make_pair(r.who, r.seq), recno).second)
          << "record " << recno << " holds " << r.who << "/" << r.seq
          << " twice";
      EXPECT_EQ(r.name, NameKey(r.who, r.seq, r.ver, recno)) << recno;
      EXPECT_EQ(r.code, CodeKey(r.who, r.seq, r.ver, recno)) << recno;
      std::string memo;
      EXPECT_GE(t.ReadMemo(r.memo_block, &memo), 0) << recno;
      EXPECT_EQ(memo, MemoText(r.who, r.seq, r.ver)) << "memo of " << recno;
      if (index_less.count({r.who, r.seq}) != 0) continue;
      expected[0].emplace_back(r.name, recno);
      expected[1].emplace_back(r.code, recno);
    }
    for (int which = 0; which < 2; ++which) {
      btree::CheckReport report;
      std::vector<std::pair<std::string, uint32_t>> entries;
      EXPECT_EQ(t.Check(which, &report, &entries), kKbdOk);
      EXPECT_EQ(report.problem_count, 0u)
          << (report.problems.empty() ? "" : report.problems[0]);
      std::sort(expected[which].begin(), expected[which].end());
      EXPECT_EQ(entries, expected[which]) << "index " << which;
    }
    return records;
  }

  qx::testing::TempDir dir_;
};

// Four writers append 2,000 records each while two readers walk and seek.
TEST_P(OperationLockTest, ManyWritersAppendWhileReadersWalk) {
  const Family& f = GetParam();
  constexpr int kWriters = 4, kReaders = 2, kSeqs = 2000;
  if (qx::testing::RunsTestSetUp()) {
    ASSERT_NO_FATAL_FAILURE(CreateFiles(f, dir_.path()));
  }
  ChildGroup group;
  for (int w = 0; w < kWriters; ++w)
    group.Start([&, w](const ChildGroup::Context&) {
      SharedTable t(f, dir_.path());
      if (int16_t s = t.Open(false); s < 0) return Failed("writer open", 40, s);
      for (int seq = 0; seq < kSeqs; ++seq) {
        uint32_t recno = 0;
        if (int rc = AppendRecord(t, w, seq, &recno)) return rc;
      }
      return 0;
    });
  for (int r = 0; r < kReaders; ++r)
    group.Start([&, r](const ChildGroup::Context& context) {
      return Reader(f, dir_.path(), r, context, kWriters, kSeqs);
    });
  group.Go();
  for (int w = 0; w < kWriters; ++w)
    EXPECT_EQ(group.Wait(w), 0) << "writer " << w;
  group.StopAll();
  for (int r = 0; r < kReaders; ++r)
    EXPECT_EQ(group.Wait(kWriters + r), 0) << "reader " << r;

  auto records = Verify();
  EXPECT_EQ(records.size(), size_t{kWriters * kSeqs});
}

// On a table of 1,000 records, four writers give random records new
// versions (keys and memo), delete and recall them under record locks,
// and append, while two readers walk and seek.
TEST_P(OperationLockTest, UpdatesAndDeletesUnderRecordLocks) {
  const Family& f = GetParam();
  constexpr int kWriters = 4, kReaders = 2, kFirst = 250, kOperations = 250;
  if (qx::testing::RunsTestSetUp()) {
    ASSERT_NO_FATAL_FAILURE(CreateFiles(f, dir_.path()));
  }
  if (qx::testing::RunsTestSetUp()) {
    SharedTable t(f, dir_.path());
    ASSERT_EQ(t.Open(false), kKbdOk);
    for (int w = 0; w < kWriters; ++w)
      for (int seq = 0; seq < kFirst; ++seq) {
        uint32_t recno = 0;
        ASSERT_EQ(AppendRecord(t, w, seq, &recno), 0);
      }
  }
  ChildGroup group;
  for (int w = 0; w < kWriters; ++w)
    group.Start([&, w](const ChildGroup::Context&) {
      SharedTable t(f, dir_.path());
      if (int16_t s = t.Open(false); s < 0) return Failed("writer open", 40, s);
      std::mt19937 rng(77u + w);
      int next_seq = kFirst;
      for (int n = 0; n < kOperations; ++n) {
        uint32_t count = 0;
        kbdseterror(0);
        kbddreccount(t.dbf(), &count);
        const uint32_t recno = 1 + rng() % count;
        const uint32_t op = rng() % 10;
        uint32_t appended = 0;
        int rc = op < 6   ? UpdateRecord(t, recno)
                 : op < 8 ? ToggleDeleted(t, recno)
                          : AppendRecord(t, w, next_seq++, &appended);
        if (rc != 0) return rc;
      }
      return 0;
    });
  for (int r = 0; r < kReaders; ++r)
    group.Start([&, r](const ChildGroup::Context& context) {
      return Reader(f, dir_.path(), r, context, kWriters, kFirst);
    });
  group.Go();
  for (int w = 0; w < kWriters; ++w)
    EXPECT_EQ(group.Wait(w), 0) << "writer " << w;
  group.StopAll();
  for (int r = 0; r < kReaders; ++r)
    EXPECT_EQ(group.Wait(kWriters + r), 0) << "reader " << r;

  auto records = Verify();
  // Each writer's appends are numbered on without a gap.
  for (int w = 0; w < kWriters; ++w) {
    int seqs = 0;
    while (records.count({w, seqs}) != 0) ++seqs;
    EXPECT_GE(seqs, kFirst);
    EXPECT_EQ(records.lower_bound({w, seqs}), records.lower_bound({w + 1, 0}));
  }
}

// A writer is killed while it holds the append lock (file-lock mode 1)
// and the lock of its last record, which it has appended but not yet
// indexed: the others wait, go on once the system drops its locks, and
// finish; the killed writer's last record is in the table without keys,
// everything else is whole.
TEST_P(OperationLockTest, KilledWriterLosesOnlyItsLastRecord) {
  const Family& f = GetParam();
  constexpr int kWriters = 4, kReaders = 1, kSeqs = 600, kKilledAt = 300;
  if (qx::testing::RunsTestSetUp()) {
    ASSERT_NO_FATAL_FAILURE(CreateFiles(f, dir_.path()));
  }
  ChildGroup group;
  for (int w = 0; w < kWriters; ++w)
    group.Start([&, w](const ChildGroup::Context& context) {
      SharedTable t(f, dir_.path());
      if (int16_t s = t.Open(false); s < 0) return Failed("writer open", 40, s);
      for (int seq = 0; seq < kSeqs; ++seq) {
        uint32_t recno = 0;
        if (w == 0 && seq == kKilledAt) {
          // File locks never wait: while another writer appends (holding
          // the same byte) the lock is refused, so it is asked again.
          int16_t s = kKbdErrLockViolation;
          for (int tries = 0; s == kKbdErrLockViolation && tries < 1000000;
               ++tries) {
            kbdseterror(0);
            s = kbddlock(t.dbf(), 1);
          }
          if (s < 0) return Failed("lock", 41, s);
          if (int rc = AppendRecord(t, w, seq, &recno, false)) return rc;
          kbdseterror(0);
          if (int16_t r = kbddlockrec(t.dbf(), recno, kKbdLockRec); r < 0)
            return Failed("lock record", 42, r);
          context.Signal();
          context.Park();
          return 43;  // not killed
        }
        if (int rc = AppendRecord(t, w, seq, &recno)) return rc;
      }
      return 0;
    });
  for (int r = 0; r < kReaders; ++r)
    group.Start([&, r](const ChildGroup::Context& context) {
      return Reader(f, dir_.path(), r, context, kWriters, kSeqs, 1);
    });
  group.Go();
  ASSERT_TRUE(group.WaitForSignal(0));
  group.Kill(0);
  EXPECT_EQ(group.Wait(0), -1);
  for (int w = 1; w < kWriters; ++w)
    EXPECT_EQ(group.Wait(w), 0) << "writer " << w;
  group.StopAll();
  EXPECT_EQ(group.Wait(kWriters), 0) << "reader";

  auto records = Verify({{0, kKilledAt}});
  EXPECT_EQ(records.size(), size_t{(kWriters - 1) * kSeqs + kKilledAt + 1});
  // Its record lock went with it.
  SharedTable t(f, dir_.path());
  ASSERT_EQ(t.Open(false), kKbdOk);
  kbdseterror(0);
  EXPECT_EQ(kbddlockrec(t.dbf(), records.at({0, kKilledAt}), kKbdLockRec),
            kKbdOk);
}

INSTANTIATE_TEST_SUITE_P(
    Families, OperationLockTest, ::testing::ValuesIn(kFamilies),
    [](const ::testing::TestParamInfo<Family>& param_info) {
      return std::string(param_info.param.name);
    });

}  // namespace
}  // namespace qx::engine::testing
