// CDX compound index files: open (read-only, beside the fixed table), the
// file check, the tag list, then every tag: open, the key type its
// expression gives on the fixed table, a full walk both ways, the tag
// check, the key and the FOR condition of the fixed table's first record.
// The input is the CDX file.
#include "engine/cdx/cdx_check.h"
#include "qx/engine.h"
#include "tests/fuzz/fuzz_index.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using namespace qx::fuzz;

// Tag slots of an open compound file.
constexpr int16_t kMaxTags = 19;

void WriteSeeds(const std::string& dir) {
  const int sizes[] = {0, 12, 300};
  for (int records : sizes) {
    int16_t dbf = MakeSeedTable(kKbdFoxpro2, records);
    const std::string path = PathOf("seed.cdx");
    int16_t cdx = kKbdNoHandle;
    kbdseterror(0);
    kbdccreate(path.c_str());
    kbdcopenx(&cdx, path.c_str(), kKbdFoxpro2);
    kbdctagbuild(dbf, cdx, "NAME", 'C', "UPPER(NAME)", 12);
    kbdctagbuild(dbf, cdx, "AMOUNT", 'N' | kKbdKeyDescending, "AMOUNT", 8);
    kbdctagbuildx(dbf, cdx, "BIRTH", 'D', "BIRTH", 8, "ACTIVE");
    kbdctagbuild(dbf, cdx, "CITYNAME", 'C' | kKbdKeyUnique, "CITY+NAME", 22);
    kbdseterror(0);
    kbdcclose(cdx);
    kbddclose(dbf);
    WriteSeed(dir, "tags" + std::to_string(records), ReadWhole(path));
  }
}

const IndexCalls<int32_t> kCalls = {kbdcfirst,
                                    kbdcnext,
                                    kbdclast,
                                    kbdcprev,
                                    [](int32_t tag) {
                                      qx::engine::btree::CheckReport report;
                                      qx::engine::CheckCdxTag(tag, &report);
                                    },
                                    kbdckeyrec,
                                    kbdcfind,
                                    kKbdCdxFirstNotBelow};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MaybeWriteSeeds(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StartEngine();
  const int16_t dbf = FixedTableHandle(kKbdFoxpro2);
  const std::string path = WriteInput("input.cdx", data, size);
  int16_t cdx = kKbdNoHandle;
  kbdseterror(0);
  if (!Opened(kbdcopenx(&cdx, path.c_str(),
                        kKbdFoxpro2 | uint16_t{kKbdModeReadOnly}),
              cdx))
    return 0;
  KbdCdxInfo info{};
  kbdcinfo(cdx, &info);
  kbdseterror(0);
  qx::engine::btree::CheckReport file_report;
  qx::engine::CheckCdx(cdx, &file_report);
  kbdseterror(0);
  int16_t count = 0;
  KbdCdxTagInfo* tags = nullptr;
  kbdctaglist(cdx, &count, &tags);
  kbdfree(tags);
  for (int16_t number = 1; number <= info.tag_count && number <= kMaxTags;
       ++number) {
    int32_t tag = -1;
    kbdseterror(0);
    if (kbdctagopenno(&tag, cdx, number) < 0 || tag == -1) continue;
    KbdCdxTagInfo tag_info{};
    char expression[kKeyRoom];
    kbdctaginfo(tag, &tag_info);
    kbdseterror(0);
    kbdcexpr(tag, expression);
    kbdseterror(0);
    kbdcforexpr(tag, expression);
    kbdseterror(0);
    char type = 0;
    uint16_t form = 0;
    if (kbdckeyform(dbf, tag, &type, &form) >= 0) {
      kbdseterror(0);
      kbdckeytype(tag, static_cast<uint8_t>(type));
    }
    ExerciseIndex(kCalls, tag, dbf, size);
    kbdcforrec(dbf, tag);
    kbdseterror(0);
    kbdctagclose(tag);
  }
  kbdseterror(0);
  kbdcclose(cdx);
  return 0;
}
