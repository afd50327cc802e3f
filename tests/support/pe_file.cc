// PE32+ layout, little-endian throughout:
//   0x3C  u32  offset of the "PE\0\0" signature; the COFF header follows it
//   COFF  +2 u16 section count, +16 u16 optional header size (20 bytes)
//   optional header: u16 magic 0x20B (PE32+); data directories from +112,
//         8 bytes each (u32 RVA, u32 size): 0 exports, 1 imports
//   section headers (40 bytes each): +8 u32 virtual size, +12 u32 RVA,
//         +16 u32 raw size, +20 u32 raw offset
//   export directory: +24 u32 name count, +32 u32 RVA of the name RVAs
//   import descriptors (20 bytes each, ending with zeros): +12 u32 name RVA
#include "tests/support/pe_file.h"

#include <algorithm>
#include <cstdint>

#include "engine/core/coding.h"

namespace qx::testing {
namespace {

class Image {
 public:
  explicit Image(const std::string& bytes) : bytes_(bytes) {}

  bool U16(size_t at, uint32_t* v) const { return Get(at, 2, v); }
  bool U32(size_t at, uint32_t* v) const { return Get(at, 4, v); }

  // File offset of an RVA through the section table.
  bool Offset(uint32_t rva, size_t* at) const {
    for (const Section& s : sections_) {
      if (rva >= s.rva && rva < s.rva + std::max(s.virtual_size, s.raw_size)) {
        *at = s.raw_offset + (rva - s.rva);
        return *at < bytes_.size();
      }
    }
    return false;
  }

  bool String(uint32_t rva, std::string* out) const {
    size_t at;
    if (!Offset(rva, &at)) return false;
    const size_t end = bytes_.find('\0', at);
    if (end == std::string::npos) return false;
    *out = bytes_.substr(at, end - at);
    return true;
  }

  struct Section {
    uint32_t virtual_size, rva, raw_size, raw_offset;
  };
  std::vector<Section> sections_;

 private:
  bool Get(size_t at, int size, uint32_t* v) const {
    if (at + size > bytes_.size()) return false;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes_.data()) + at;
    *v = size == 2 ? engine::GetLe16(p) : engine::GetLe32(p);
    return true;
  }
  const std::string& bytes_;
};

}  // namespace

bool LooksLikePe(const std::string& bytes) {
  Image image(bytes);
  uint32_t pe = 0;
  return bytes.size() > 0x40 && bytes[0] == 'M' && bytes[1] == 'Z' &&
         image.U32(0x3C, &pe) &&
         bytes.compare(pe, 4, std::string("PE\0\0", 4)) == 0;
}

bool ReadPeTables(const std::string& bytes, PeTables* tables,
                  std::string* error) {
  Image image(bytes);
  uint32_t pe = 0, sections = 0, optional_size = 0, magic = 0;
  if (!LooksLikePe(bytes) || !image.U32(0x3C, &pe) ||
      !image.U16(pe + 6, &sections) || !image.U16(pe + 20, &optional_size) ||
      !image.U16(pe + 24, &magic) || magic != 0x20B) {
    *error = "not a PE32+ image";
    return false;
  }
  const size_t optional = pe + 24;
  const size_t section_table = optional + optional_size;
  for (uint32_t i = 0; i < sections; ++i) {
    Image::Section s;
    const size_t at = section_table + 40 * i;
    if (!image.U32(at + 8, &s.virtual_size) || !image.U32(at + 12, &s.rva) ||
        !image.U32(at + 16, &s.raw_size) ||
        !image.U32(at + 20, &s.raw_offset)) {
      *error = "truncated section table";
      return false;
    }
    image.sections_.push_back(s);
  }
  uint32_t export_rva = 0, import_rva = 0;
  image.U32(optional + 112, &export_rva);
  image.U32(optional + 120, &import_rva);
  tables->exports.clear();
  tables->imports.clear();
  if (export_rva != 0) {
    size_t dir;
    uint32_t count = 0, names_rva = 0;
    if (!image.Offset(export_rva, &dir) || !image.U32(dir + 24, &count) ||
        !image.U32(dir + 32, &names_rva)) {
      *error = "bad export directory";
      return false;
    }
    size_t names;
    if (count != 0 && !image.Offset(names_rva, &names)) {
      *error = "bad export name table";
      return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t name_rva = 0;
      std::string name;
      if (!image.U32(names + 4 * i, &name_rva) ||
          !image.String(name_rva, &name)) {
        *error = "bad export name";
        return false;
      }
      tables->exports.push_back(name);
    }
  }
  if (import_rva != 0) {
    size_t at;
    if (!image.Offset(import_rva, &at)) {
      *error = "bad import directory";
      return false;
    }
    for (;; at += 20) {
      uint32_t name_rva = 0;
      if (!image.U32(at + 12, &name_rva)) {
        *error = "truncated import directory";
        return false;
      }
      if (name_rva == 0) break;
      std::string name;
      if (!image.String(name_rva, &name)) {
        *error = "bad import name";
        return false;
      }
      tables->imports.push_back(name);
    }
  }
  return true;
}

}  // namespace qx::testing
