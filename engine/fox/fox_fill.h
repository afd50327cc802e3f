// Filling a FoxPro tree from the records of a data file, for the builds of
// IDX files and CDX tags: every record's key is sorted through the work
// file "stacks.tmp" (items: key, then the record number big-endian, so a
// byte comparison gives the tree's order), then handed to FoxTreeBuilder.
// Deleted records are included, records the FOR condition excludes left
// out; a unique tree keeps the first record of each key.
#ifndef QX_ENGINE_FOX_FOX_FILL_H_
#define QX_ENGINE_FOX_FOX_FILL_H_

#include <cstdint>
#include <string_view>

#include "engine/fox/fox_tree.h"

namespace qx::engine::fox {

// The stored key of a record value (key_length bytes): text padded with
// blanks or cut; a number ('N') as the 8-byte sortable double, or in a
// 4-byte key as the 4-byte integer image (Visual FoxPro's I fields); a date
// ('D', number its key day number as record_source.h gives it) as the
// sortable double of FoxDateKeyDay. -7 for a value the key cannot hold,
// -15 for a key day number no date has.
int16_t StoreFoxKey(char type, std::string_view text, double number,
                    uint16_t key_length, uint8_t* key);

// The day number FoxPro date keys hold for a date of the given key day
// number (kEmptyDateKeyDay: the empty date): its true Julian day number,
// proleptic Gregorian (1900-01-01 is 2415021), and 0 for the empty date,
// so that empty dates sort first. -15 for a number no date has.
int16_t FoxDateKeyDay(double key_day, double* fox_day);

struct FoxFill {
  int16_t dbf_handle = -1;  // prepared for block reading (locked)
  uint32_t record_count = 0;
  std::string_view expression;      // normalised
  std::string_view for_expression;  // "" none
  uint16_t file_slot = 0xFFFF;
  FoxLayout layout = FoxLayout::kCompact;
  uint16_t key_length = 0;
  uint8_t pad = ' ';
  bool unique = false;
  uint32_t reuse_node = 0;  // see FoxTreeBuilder::ReuseNode; 0: none
};

// Sorts and builds; *root gets the new tree's root node. The caller
// writes it into the tree's header.
int16_t FillFoxTree(const FoxFill& fill, uint32_t* root);

// Whether the data file's current record belongs in an index with that
// FOR condition ("" none: every record), evaluated under the dBASE and
// FoxPro rules: 1 it does, 0 it does not; evaluation errors (-7 for a
// condition that is not logical) pass through.
int16_t FoxRecordBelongs(int16_t dbf_handle, std::string_view for_expression);

}  // namespace qx::engine::fox

#endif  // QX_ENGINE_FOX_FOX_FILL_H_
