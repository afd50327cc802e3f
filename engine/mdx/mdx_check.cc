// The checks of MDX files (see mdx_check.h).
#include "engine/mdx/mdx_check.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "engine/mdx/mdx_decimal.h"
#include "engine/mdx/mdx_file.h"

namespace qx::engine {
namespace {

std::string KeyText(uint8_t key_type, uint32_t key_length, const uint8_t* key) {
  if (key_type == kMdxKeyDate) return btree::LeDoubleKeyText(key);
  if (key_type != kMdxKeyNumeric) return btree::QuotedKeyText(key, key_length);
  char number[40];
  std::snprintf(number, sizeof number, "%.17g", DecodeMdxDecimal(key));
  return number;
}

// The blocks of the file as the check sees them: sectors below `limit`
// (the header's count, or fewer when the file is shorter); a block fits
// when it starts at 4 or later and below end_page.
struct FileExtent {
  uint32_t limit = 0;
  uint32_t end_page = 0;
  bool Fits(uint32_t sector) const {
    return sector >= kMdxFirstBlockSector && sector < end_page;
  }
};

// Re-reads the words and measures the file (X1).
int16_t MeasureFile(MdxFile& file, FileExtent* extent,
                    std::vector<std::string>* problems) {
  // The words of the file itself, even where this handle keeps them.
  file.words_kept = false;
  if (int16_t e = file.RefreshWords()) return e;
  uint32_t size = 0;
  if (int16_t e = FileSize(file.slot, &size)) return e;
  const uint32_t sectors = file.header.sector_count;
  if (static_cast<uint64_t>(sectors) * kMdxSectorSize != size)
    problems->push_back("X1: the file holds " + std::to_string(size) +
                        " bytes, not sector_count " + std::to_string(sectors) +
                        " * 512");
  extent->limit = std::min(sectors, size / kMdxSectorSize);
  const uint32_t f = file.block_factor();
  extent->end_page = extent->limit >= f ? extent->limit - f + 1 : 0;
  return kKbdOk;
}

// The free chain from its head, as far as it stays inside the file and
// does not come back to a block (X4 problems into *problems).
int16_t WalkChain(const MdxFile& file, const FileExtent& extent,
                  std::vector<uint32_t>* chain,
                  std::vector<std::string>* problems) {
  std::set<uint32_t> seen;
  for (uint32_t block = file.header.free_head; block != 0;) {
    if (!extent.Fits(block)) {
      problems->push_back("X4: free block " + std::to_string(block) +
                          " lies outside the file");
      break;
    }
    if (!seen.insert(block).second) {
      problems->push_back("X4: free block " + std::to_string(block) +
                          " is on the chain twice");
      break;
    }
    chain->push_back(block);
    uint32_t offset = 0;
    if (int16_t e = MdxSectorOffset(block, &offset)) return e;
    uint8_t link[4];
    if (int16_t e =
            FileReadAt(file.slot, offset + kMdxLinkOffset, link, sizeof link))
      return e;
    block = GetLe32(link);
  }
  if (chain->size() != file.header.free_count)
    problems->push_back(
        "X4: the free chain holds " + std::to_string(chain->size()) +
        " blocks, free_count says " + std::to_string(file.header.free_count));
  return kKbdOk;
}

// The walker's input for a tag's tree.
btree::CheckInput TreeInput(const MdxFile& file, const MdxTagHeader& header,
                            const btree::EntryLayout* layout,
                            const FileExtent& extent) {
  btree::CheckInput input;
  input.layout = layout;
  input.root = header.root;
  input.first_page = kMdxFirstBlockSector;
  input.end_page = extent.end_page;
  input.page_step = file.block_factor();
  input.recno_order = (header.key_format & kMdxFormatUnique) == 0;
  input.account_pages = false;  // other tags and the chain share the file
  const uint16_t slot = file.slot;
  const uint32_t block_size = file.block_size();
  input.read_page = [slot, block_size](uint32_t page, uint8_t* buffer) {
    uint32_t offset = 0;
    if (int16_t e = MdxSectorOffset(page, &offset)) return e;
    return FileReadAt(slot, offset, buffer, block_size);
  };
  const uint8_t key_type = header.key_type;
  const uint32_t key_length = header.key_length;
  input.compare = [key_type, key_length](const uint8_t* a, const uint8_t* b) {
    return CompareMdxKeys(key_type, a, b, key_length);
  };
  input.key_text = [key_type, key_length](const uint8_t* key) {
    return KeyText(key_type, key_length, key);
  };
  return input;
}

void AddProblems(const std::vector<std::string>& problems, uint32_t count,
                 std::vector<std::string>* out, uint32_t* out_count) {
  *out_count += count;
  for (const std::string& p : problems)
    if (out->size() < btree::kMaxReportedProblems) out->push_back(p);
}

int16_t CheckOpenTag(
    MdxTag& tag, btree::CheckReport* report,
    const std::function<void(const uint8_t*, uint32_t)>& on_entry) {
  MdxFile& file = *tag.file;
  std::vector<std::string> problems;
  FileExtent extent;
  if (int16_t e = MeasureFile(file, &extent, &problems)) return e;
  MdxTagHeader header;
  if (int16_t e = ReadTagHeader(file, tag.header_sector, &header)) return e;
  tag.header.root = header.root;
  std::vector<uint32_t> chain;
  if (int16_t e = WalkChain(file, extent, &chain, &problems)) return e;
  if (!extent.Fits(header.root)) {
    problems.push_back("T1: root page " + std::to_string(header.root) +
                       " lies outside the file");
    *report = btree::CheckReport();
    AddProblems(problems, static_cast<uint32_t>(problems.size()),
                &report->problems, &report->problem_count);
    return kKbdOk;
  }
  btree::CheckInput input = TreeInput(file, tag.header, &tag.layout, extent);
  input.free_chain = chain;  // F1: the walker reports chain pages it met
  input.on_entry = on_entry;
  if (int16_t e = btree::CheckTree(input, report)) return e;
  std::vector<std::string> tree_problems = std::move(report->problems);
  const uint32_t tree_count = report->problem_count;
  report->problems.clear();
  report->problem_count = 0;
  AddProblems(problems, static_cast<uint32_t>(problems.size()),
              &report->problems, &report->problem_count);
  AddProblems(tree_problems, tree_count, &report->problems,
              &report->problem_count);
  return kKbdOk;
}

// Who holds a block (X5): 0 nobody, kChainOwner the free chain, n the
// tree of tag n, kHeaderOwner + n the header of tag n.
constexpr int kChainOwner = -1;
constexpr int kHeaderOwner = 100;

std::string OwnerText(int owner) {
  if (owner == kChainOwner) return "the free chain";
  if (owner > kHeaderOwner)
    return "the header of tag " + std::to_string(owner - kHeaderOwner);
  return "the tree of tag " + std::to_string(owner);
}

class FileChecker {
 public:
  FileChecker(MdxFile& file, MdxFileReport* report)
      : file_(file), report_(report) {}

  int16_t Run() {
    std::vector<std::string> problems;
    if (int16_t e = MeasureFile(file_, &extent_, &problems)) return e;
    for (const std::string& p : problems) Problem(p);
    owner_.assign(extent_.limit, 0);
    std::set<std::string> names;
    const uint32_t count = file_.header.tag_count;
    for (uint32_t n = 1; n <= count; ++n) {
      if (int16_t e = CheckTag(n, &names)) return e;
    }
    report_->tags = count;
    std::vector<uint32_t> chain;
    problems.clear();
    if (int16_t e = WalkChain(file_, extent_, &chain, &problems)) return e;
    for (const std::string& p : problems) Problem(p);
    for (uint32_t block : chain) Claim(block, kChainOwner);
    report_->free_blocks = static_cast<uint32_t>(chain.size());
    for (uint32_t s = kMdxFirstBlockSector; extent_.Fits(s);
         s += file_.block_factor())
      if (owner_[s] == 0)
        Problem("X5: block " + std::to_string(s) +
                " is neither a tag's nor free");
    return kKbdOk;
  }

 private:
  void Problem(const std::string& text) { btree::AddProblem(report_, text); }

  void Claim(uint32_t block, int owner) {
    if (block >= owner_.size()) return;
    if (owner_[block] != 0 && owner_[block] != owner) {
      Problem("X5: block " + std::to_string(block) + " belongs to " +
              OwnerText(owner_[block]) + " and to " + OwnerText(owner));
      return;
    }
    owner_[block] = owner;
  }

  int16_t CheckTag(uint32_t n, std::set<std::string>* names) {
    const MdxTagEntry entry = file_.Entry(n);
    const std::string where =
        "tag " + std::to_string(n) + " (" + entry.name + ")";
    std::string upper = entry.name;
    for (char& c : upper)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (entry.name.empty() || entry.name.size() > kMdxMaxTagNameLength)
      Problem("X2: " + where + " has no name of 1..10 characters");
    else if (!names->insert(upper).second)
      Problem("X2: " + where + " has the name of another tag");
    if (entry.mark != kMdxEntryMark)
      Problem("X2: " + where + " has mark " + std::to_string(entry.mark));
    const uint32_t forward = n == file_.header.tag_count ? 0 : n + 1;
    if (entry.forward != forward || entry.backward != n - 1)
      Problem("X2: " + where + " is threaded to " +
              std::to_string(entry.backward) + " and " +
              std::to_string(entry.forward));
    if (!extent_.Fits(entry.header_sector)) {
      Problem("X2: " + where + " has its header at block " +
              std::to_string(entry.header_sector) + ", outside the file");
      return kKbdOk;
    }
    Claim(entry.header_sector, kHeaderOwner + static_cast<int>(n));
    MdxTagHeader header;
    if (int16_t e = ReadTagHeader(file_, entry.header_sector, &header))
      return e;
    if (header.key_type != entry.key_type)
      Problem("X2: " + where + " is typed '" +
              std::string(1, static_cast<char>(entry.key_type)) +
              "' in the table, '" +
              std::string(1, static_cast<char>(header.key_type)) +
              "' in its header");
    if (int16_t status = TagHeaderStatus(file_, header)) {
      Problem("X3: " + where + " fails the tag header checks (" +
              std::to_string(status) + ")");
      return kKbdOk;
    }
    const btree::EntryLayout layout = MdxLayout(header, file_.block_size());
    btree::CheckInput input = TreeInput(file_, header, &layout, extent_);
    const int owner = static_cast<int>(n);
    input.on_page = [this, owner](uint32_t page) { Claim(page, owner); };
    btree::CheckReport tree;
    if (int16_t e = btree::CheckTree(input, &tree)) return e;
    report_->keys += tree.keys;
    report_->tree_blocks += tree.tree_pages;
    report_->problem_count +=
        tree.problem_count - static_cast<uint32_t>(tree.problems.size());
    for (const std::string& p : tree.problems)
      Problem("X3: " + where + ": " + p);
    return kKbdOk;
  }

  MdxFile& file_;
  MdxFileReport* report_;
  FileExtent extent_;
  std::vector<int> owner_;  // per sector (X5)
};

}  // namespace

int16_t CheckMdxTag(
    int32_t tag, btree::CheckReport* report,
    const std::function<void(const uint8_t* key, uint32_t recno)>& on_entry) {
  return RunOperation([&]() -> int16_t {
    if (report == nullptr) return Fail(kKbdErrNullPointer);
    *report = btree::CheckReport();
    MdxTag* open = CheckMdxTag(tag);
    if (open == nullptr) return LastError();
    OperationScope scope;  // a read: no change of another process inside
    if (int16_t e = open->file->EnterLock(&scope, LockKind::kShared)) return e;
    return CheckOpenTag(*open, report, on_entry);
  });
}

int16_t CheckMdxFile(int16_t handle, MdxFileReport* report) {
  return RunOperation([&]() -> int16_t {
    if (report == nullptr) return Fail(kKbdErrNullPointer);
    *report = MdxFileReport();
    MdxFile* file = CheckMdx(handle);
    if (file == nullptr) return kKbdErrHandle;
    OperationScope scope;  // a read: no change of another process inside
    if (int16_t e = file->EnterLock(&scope, LockKind::kShared)) return e;
    if (int16_t e = file->ReloadTagTable()) return e;
    FileChecker checker(*file, report);
    return checker.Run();
  });
}

}  // namespace qx::engine
