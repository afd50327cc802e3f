// Key navigation and maintenance through the engine, by the family of the
// descriptor's index (dialects.h): MDX and CDX work on the tag handle, the
// others on the index handle; a family without an index engine answers -6.
//
// Key buffers. The caller's buffer holds at least the descriptor's key
// length; the engine works on a buffer of its own (room for the longest
// key of any family) that is copied from and back to the caller's, so an
// index whose keys are longer than the caller's buffer cannot write past
// it. Whenever the descriptor's key value type is in the host's text
// family, byte key length - 1 of the caller's buffer is set to 0 after
// the engine call. Statuses besides errors: 2 empty, 3 no more keys, 4 or
// 12 not found (the index Parts' meanings).
//
// IDX and CDX navigations first record the descriptor's key type
// (SetKeyType) and are not run when that fails.
#ifndef QX_ACCESS_ADAPTER_KEY_OPS_H_
#define QX_ACCESS_ADAPTER_KEY_OPS_H_

#include <cstdint>
#include <span>

#include "access/adapter/key_descriptor.h"

namespace qx::access {

// The key type an IDX or CDX index makes and compares its keys with: its
// letter with bit 0x20 cleared; 'C' pads keys with blanks, 'D', 'L', 'N'
// (and for CDX the binary types 10, 11, 12) with zero bytes; any other
// type is -22. 0 for the other families.
int32_t SetKeyType(const IndexKeyDescriptor& key);

// FirstKey and LastKey zero the caller's buffer first.
int32_t FirstKey(const IndexKeyDescriptor& key, std::span<uint8_t> image,
                 uint32_t* recno);
int32_t LastKey(const IndexKeyDescriptor& key, std::span<uint8_t> image,
                uint32_t* recno);
// From the entry (image, *recno) to the next or previous one, in every
// family: NDX and MDX, which move from their handle's current key, have
// the entry searched first, so two browses of one handle each move from
// their own entry. An entry that has gone moves from where it would lie.
int32_t NextKey(const IndexKeyDescriptor& key, std::span<uint8_t> image,
                uint32_t* recno);
int32_t PreviousKey(const IndexKeyDescriptor& key, std::span<uint8_t> image,
                    uint32_t* recno);
// Positions on the entry (image, *recno): 0 when it is there; NDX and MDX
// give 4 on the greatest smaller entry or 12 on the first one when it has
// gone.
int32_t CurrentKey(const IndexKeyDescriptor& key, std::span<uint8_t> image,
                   uint32_t* recno);
// Seeks image with the engine's search mode of the family (unchanged).
// With pad set and both the item type and the key value type in the text
// family, the key text is first padded with blanks to key length - 1 and
// ended with a zero byte there.
int32_t SeekKey(const IndexKeyDescriptor& key, std::span<uint8_t> image,
                bool pad, uint32_t* recno, uint16_t search_mode);
// Ours: SeekKey with the statuses of every family made alike: 0 on an
// equal entry; 4 on the next entry of the index's order (the first one
// after the value sought); 12 no entry after it, positioned on the last
// entry; 2 empty. (NDX and MDX stop a miss on the smaller entry, CDX
// answers 3 past the last one.)
int32_t SeekKeyEntry(const IndexKeyDescriptor& key, std::span<uint8_t> image,
                     bool pad, uint32_t* recno, uint16_t search_mode);
// Ours: positions on the first entry at or after image in the index's own
// order (a descending index's too): 0 on an entry, 3 or 2 when there is
// none. The families differ in where a search that misses stops; this
// hides it.
int32_t SeekKeyNotBefore(const IndexKeyDescriptor& key,
                         std::span<uint8_t> image, uint32_t* recno);

// Adds or removes the entry (image, recno). For IDX and CDX the key type
// is recorded first, so that a binary key is not read as text.
int32_t AddKey(const IndexKeyDescriptor& key, std::span<const uint8_t> image,
               uint32_t recno);
int32_t DeleteKey(const IndexKeyDescriptor& key, std::span<const uint8_t> image,
                  uint32_t recno);

// The key of the data file's current record. field_number < 0: the key is
// the index's expression, evaluated by the engine; a character key is
// then right-trimmed of blanks (the index pads it again). Otherwise the
// key is the plain field field_number of type field_type, read from the
// record and made as MakeKey makes it: N, B, F as key type 'N'; T as 12;
// Y as 10; I as 11; D as 'D'; C, L, V as 'C'; any other type gives 2. The
// buffer is zeroed first; the key fills key length bytes.
int32_t RecordKey(const IndexKeyDescriptor& key, uint16_t dbf_handle,
                  int32_t field_number, uint16_t field_type,
                  std::span<uint8_t> image);
// Ours, the companion of RecordKey for FOR conditions: 1 when the data
// file's current record belongs in the index (no FOR condition, or it
// holds), 0 when the record gets no entry; negative on errors. NDX and MDX
// files hold no FOR condition: 1.
int32_t RecordBelongs(const IndexKeyDescriptor& key, uint16_t dbf_handle);

}  // namespace qx::access

#endif  // QX_ACCESS_ADAPTER_KEY_OPS_H_
