// The five index kinds behind the IndexKind interface (see index_kinds.h).
#include "tests/engine/faults/index_kinds.h"

#include <functional>

#include "engine/btree/btree_check.h"
#include "engine/cdx/cdx_check.h"
#include "engine/idx/idx_check.h"
#include "engine/mdx/mdx_check.h"
#include "engine/ndx/ndx_check.h"
#include "engine/ntx/ntx_check.h"
#include "qx/engine.h"

namespace qx::engine::faults_test {
namespace {

constexpr char kExpression[] = "K";
constexpr char kTag[] = "T";

using Step = std::function<int16_t(void* key, uint32_t* recno)>;

// First, then next until the end, over a key buffer of kKeyLength + 1.
int16_t WalkWith(const Step& first, const Step& next,
                 std::vector<Entry>* entries) {
  entries->clear();
  std::string key(kKeyLength + 1, '\0');
  uint32_t recno = 0;
  int16_t status = first(key.data(), &recno);
  if (status == kKbdEmptyFile) return kKbdOk;
  while (status == kKbdOk) {
    entries->emplace_back(key.substr(0, kKeyLength), recno);
    if (entries->size() > 100000) return kKbdErrCorrupt;  // a loop
    status = next(key.data(), &recno);
  }
  return status == kKbdNoMoreKeys ? int16_t{kKbdOk} : status;
}

// The single-file kinds share their shape: one handle.
class SingleFile : public IndexKind {
 public:
  using IndexKind::IndexKind;

 protected:
  int16_t handle_ = -1;
};

class Ndx : public SingleFile {
 public:
  using SingleFile::SingleFile;
  const char* name() const override { return "Ndx"; }
  std::string file() const override { return "t.ndx"; }
  int16_t Create(const std::string& p) override {
    return kbdncreate(p.c_str(), 'C', kExpression, kKeyLength);
  }
  int16_t Build(int16_t dbf, const std::string& p) override {
    return kbdnindex(dbf, p.c_str(), 'C', kExpression, kKeyLength);
  }
  int16_t Open(const std::string& p) override {
    return kbdnopenx(&handle_, p.c_str(), open_mode_);
  }
  int16_t Close() override { return kbdnclose(handle_); }
  int16_t Add(const std::string& k, uint32_t r) override {
    return kbdnkadd(handle_, k.c_str(), r);
  }
  int16_t Delete(const std::string& k, uint32_t r) override {
    return kbdnkdel(handle_, k.c_str(), r);
  }
  int16_t Walk(std::vector<Entry>* e) override {
    return WalkWith(
        [&](void* k, uint32_t* r) { return kbdnkfirst(handle_, k, r); },
        [&](void* k, uint32_t* r) { return kbdnknext(handle_, k, r); }, e);
  }
  int16_t Check(uint32_t* problems) override {
    btree::CheckReport report;
    const int16_t status = CheckNdx(handle_, &report);
    *problems = report.problem_count;
    return status;
  }
};

class Ntx : public SingleFile {
 public:
  using SingleFile::SingleFile;
  const char* name() const override { return "Ntx"; }
  std::string file() const override { return "t.ntx"; }
  int16_t Create(const std::string& p) override {
    return kbdxcreate(p.c_str(), 'C', kExpression, kKeyLength, 0);
  }
  int16_t Build(int16_t dbf, const std::string& p) override {
    return kbdxbuild(dbf, p.c_str(), 'C', kExpression, kKeyLength, 0);
  }
  int16_t Open(const std::string& p) override {
    return kbdxopenx(&handle_, p.c_str(), open_mode_);
  }
  int16_t Close() override { return kbdxclose(handle_); }
  int16_t Add(const std::string& k, uint32_t r) override {
    return kbdxadd(handle_, k.c_str(), r);
  }
  int16_t Delete(const std::string& k, uint32_t r) override {
    return kbdxdelete(handle_, k.c_str(), r);
  }
  int16_t Walk(std::vector<Entry>* e) override {
    return WalkWith(
        [&](void* k, uint32_t* r) { return kbdxfirst(handle_, k, r); },
        [&](void* k, uint32_t* r) { return kbdxnext(handle_, k, r); }, e);
  }
  int16_t Check(uint32_t* problems) override {
    btree::CheckReport report;
    const int16_t status = CheckNtx(handle_, &report);
    *problems = report.problem_count;
    return status;
  }
};

class Idx : public SingleFile {
 public:
  Idx(uint16_t open_mode, bool compact)
      : SingleFile(open_mode), compact_(compact) {}
  const char* name() const override { return compact_ ? "IdxCompact" : "Idx"; }
  std::string file() const override { return "t.idx"; }
  int16_t Create(const std::string& p) override {
    return kbdicreate(p.c_str(), Type(), kExpression, kKeyLength);
  }
  int16_t Build(int16_t dbf, const std::string& p) override {
    return kbdibuild(dbf, p.c_str(), Type(), kExpression, kKeyLength);
  }
  int16_t Open(const std::string& p) override {
    return kbdiopenx(&handle_, p.c_str(), open_mode_);
  }
  int16_t Close() override { return kbdiclose(handle_); }
  int16_t Add(const std::string& k, uint32_t r) override {
    return kbdiadd(handle_, k.c_str(), r);
  }
  int16_t Delete(const std::string& k, uint32_t r) override {
    return kbdidelete(handle_, k.c_str(), r);
  }
  int16_t Walk(std::vector<Entry>* e) override {
    return WalkWith(
        [&](void* k, uint32_t* r) { return kbdifirst(handle_, k, r); },
        [&](void* k, uint32_t* r) { return kbdinext(handle_, k, r); }, e);
  }
  int16_t Check(uint32_t* problems) override {
    btree::CheckReport report;
    const int16_t status = CheckIdx(handle_, &report);
    *problems = report.problem_count;
    return status;
  }

 private:
  uint16_t Type() const { return compact_ ? 'C' | kKbdKeyCompact : 'C'; }
  bool compact_;
};

class Mdx : public IndexKind {
 public:
  using IndexKind::IndexKind;
  const char* name() const override { return "Mdx"; }
  std::string file() const override { return "t.mdx"; }
  int16_t Create(const std::string& p) override {
    if (int16_t s = kbdmcreate(p.c_str()); s < 0) return s;
    if (int16_t s = kbdmopenx(&file_, p.c_str(), 0); s < 0) return s;
    const int16_t s = kbdmtagdef(file_, kTag, 'C', kExpression, kKeyLength);
    kbdseterror(0);  // the close runs whatever the step answered
    const int16_t c = kbdmclose(file_);
    return s < 0 ? s : c;
  }
  int16_t Build(int16_t dbf, const std::string& p) override {
    if (int16_t s = kbdmcreate(p.c_str()); s < 0) return s;
    if (int16_t s = kbdmopenx(&file_, p.c_str(), 0); s < 0) return s;
    const int16_t s = kbdmindex(dbf, file_, kTag, 'C', kExpression, kKeyLength);
    kbdseterror(0);  // the close runs whatever the step answered
    const int16_t c = kbdmclose(file_);
    return s < 0 ? s : c;
  }
  int16_t Open(const std::string& p) override {
    if (int16_t s = kbdmopenx(&file_, p.c_str(), open_mode_); s < 0) return s;
    return kbdmtagopen(&tag_, file_, kTag);
  }
  int16_t Close() override { return kbdmclose(file_); }
  int16_t Add(const std::string& k, uint32_t r) override {
    return kbdmkadd(tag_, k.c_str(), r);
  }
  int16_t Delete(const std::string& k, uint32_t r) override {
    return kbdmkdel(tag_, k.c_str(), r);
  }
  int16_t Walk(std::vector<Entry>* e) override {
    return WalkWith(
        [&](void* k, uint32_t* r) { return kbdmkfirst(tag_, k, r); },
        [&](void* k, uint32_t* r) { return kbdmknext(tag_, k, r); }, e);
  }
  int16_t Check(uint32_t* problems) override {
    MdxFileReport report;
    const int16_t status = CheckMdxFile(file_, &report);
    *problems = report.problem_count;
    return status;
  }

 private:
  int16_t file_ = -1;
  int32_t tag_ = -1;
};

class Cdx : public IndexKind {
 public:
  using IndexKind::IndexKind;
  const char* name() const override { return "Cdx"; }
  std::string file() const override { return "t.cdx"; }
  int16_t Create(const std::string& p) override {
    if (int16_t s = kbdccreate(p.c_str()); s < 0) return s;
    if (int16_t s = kbdcopenx(&file_, p.c_str(), 0); s < 0) return s;
    const int16_t s = kbdctagcreate(file_, kTag, 'C', kExpression, kKeyLength);
    kbdseterror(0);  // the close runs whatever the step answered
    const int16_t c = kbdcclose(file_);
    return s < 0 ? s : c;
  }
  int16_t Build(int16_t dbf, const std::string& p) override {
    if (int16_t s = kbdccreate(p.c_str()); s < 0) return s;
    if (int16_t s = kbdcopenx(&file_, p.c_str(), 0); s < 0) return s;
    const int16_t s =
        kbdctagbuild(dbf, file_, kTag, 'C', kExpression, kKeyLength);
    kbdseterror(0);  // the close runs whatever the step answered
    const int16_t c = kbdcclose(file_);
    return s < 0 ? s : c;
  }
  int16_t Open(const std::string& p) override {
    if (int16_t s = kbdcopenx(&file_, p.c_str(), open_mode_); s < 0) return s;
    return kbdctagopen(&tag_, file_, kTag);
  }
  int16_t Close() override { return kbdcclose(file_); }
  int16_t Add(const std::string& k, uint32_t r) override {
    return kbdcadd(tag_, k.c_str(), r);
  }
  int16_t Delete(const std::string& k, uint32_t r) override {
    return kbdcdelete(tag_, k.c_str(), r);
  }
  int16_t Walk(std::vector<Entry>* e) override {
    return WalkWith([&](void* k, uint32_t* r) { return kbdcfirst(tag_, k, r); },
                    [&](void* k, uint32_t* r) { return kbdcnext(tag_, k, r); },
                    e);
  }
  int16_t Check(uint32_t* problems) override {
    btree::CheckReport report;
    const int16_t status = CheckCdx(file_, &report);
    *problems = report.problem_count;
    return status;
  }

 private:
  int16_t file_ = -1;
  int32_t tag_ = -1;
};

}  // namespace

std::unique_ptr<IndexKind> MakeIndexKind(const std::string& name,
                                         uint16_t open_mode) {
  if (name == "Ndx") return std::make_unique<Ndx>(open_mode);
  if (name == "Ntx") return std::make_unique<Ntx>(open_mode);
  if (name == "Idx") return std::make_unique<Idx>(open_mode, false);
  if (name == "IdxCompact") return std::make_unique<Idx>(open_mode, true);
  if (name == "Mdx") return std::make_unique<Mdx>(open_mode);
  if (name == "Cdx") return std::make_unique<Cdx>(open_mode);
  return nullptr;
}

}  // namespace qx::engine::faults_test
