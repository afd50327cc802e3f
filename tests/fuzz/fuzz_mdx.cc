// MDX multiple index files: open (read-only, beside the fixed table), the
// file check, then every tag: open, a full walk both ways, the tag check
// and the key of the fixed table's first record. The input is the MDX
// file.
#include "engine/mdx/mdx_check.h"
#include "qx/engine.h"
#include "tests/fuzz/fuzz_index.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using namespace qx::fuzz;

// Tags opened per input at most (an MDX file holds 47).
constexpr int16_t kMaxTags = 48;

void WriteSeeds(const std::string& dir) {
  const int sizes[] = {0, 12, 300};
  for (int records : sizes) {
    int16_t dbf = MakeSeedTable(kKbdDbase4, records);
    const std::string path = PathOf("seed.mdx");
    int16_t mdx = kKbdNoHandle;
    kbdseterror(0);
    kbdmcreate(path.c_str());
    kbdmopenx(&mdx, path.c_str(), kKbdDbase4);
    kbdmindex(dbf, mdx, "NAME", 'C', "UPPER(NAME)", 12);
    kbdmindex(dbf, mdx, "AMOUNT", 'N', "AMOUNT", 12);
    kbdmindex(dbf, mdx, "BIRTH", 'D' | kKbdKeyUnique, "BIRTH", 8);
    kbdmindex(dbf, mdx, "CITYNAME", 'C' | kKbdKeyDescending, "CITY+NAME", 22);
    kbdseterror(0);
    kbdmclose(mdx);
    kbddclose(dbf);
    WriteSeed(dir, "tags" + std::to_string(records), ReadWhole(path));
  }
}

const IndexCalls<int32_t> kCalls = {kbdmkfirst,
                                    kbdmknext,
                                    kbdmklast,
                                    kbdmkprev,
                                    [](int32_t tag) {
                                      qx::engine::btree::CheckReport report;
                                      qx::engine::CheckMdxTag(tag, &report);
                                    },
                                    kbdmkmake,
                                    kbdmkfind,
                                    kKbdFindFirstEqual};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MaybeWriteSeeds(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StartEngine();
  const int16_t dbf = FixedTableHandle(kKbdDbase4);
  const std::string path = WriteInput("input.mdx", data, size);
  int16_t mdx = kKbdNoHandle;
  kbdseterror(0);
  if (!Opened(kbdmopenx(&mdx, path.c_str(),
                        kKbdDbase4 | uint16_t{kKbdModeReadOnly}),
              mdx))
    return 0;
  KbdMdxInfo info{};
  kbdminfo(mdx, &info);
  kbdseterror(0);
  qx::engine::MdxFileReport file_report;
  qx::engine::CheckMdxFile(mdx, &file_report);
  for (int16_t number = 1; number <= info.tag_count && number <= kMaxTags;
       ++number) {
    int32_t tag = -1;
    kbdseterror(0);
    if (kbdmtagopenn(&tag, mdx, number) < 0) continue;
    KbdMdxTagInfo tag_info{};
    char expression[kKeyRoom];
    kbdmtaginfo(tag, &tag_info);
    kbdseterror(0);
    kbdmexpr(tag, expression);
    ExerciseIndex(kCalls, tag, dbf, size);
    kbdmtagclose(tag);
  }
  kbdseterror(0);
  kbdmclose(mdx);
  return 0;
}
