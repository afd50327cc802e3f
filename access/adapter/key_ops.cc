// Key navigation and maintenance through the engine (see key_ops.h).
#include "access/adapter/key_ops.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <type_traits>

#include "access/adapter/engine_call.h"
#include "access/adapter/index_ops.h"
#include "access/adapter/key_image.h"
#include "qx/engine.h"
#include "qx/host_types.h"

namespace qx::access {
namespace {

using adapter_internal::Call;
using adapter_internal::EngineBuffer;

// The engine's key buffer: the longest key of any family (CDX tags of
// other programs: 240 bytes) and its NUL, with room to spare.
constexpr size_t kEngineKeyRoom = 512;
// The search mode every family reads as "the first entry not below the
// key" (a prefix for text).
constexpr uint16_t kSeekNotBelow = 1;
// A field's value as the data file gives it (the longest field and its
// NUL fit).
constexpr size_t kFieldValueRoom = 2048;

int16_t Handle16(uint16_t handle) { return static_cast<int16_t>(handle); }
int32_t Tag32(uint32_t tag) { return static_cast<int32_t>(tag); }

using EngineKey = std::array<uint8_t, kEngineKeyRoom>;

// The caller's buffer into the engine's (the rest zero).
void Take(std::span<const uint8_t> image, EngineKey* engine) {
  engine->fill(0);
  std::memcpy(engine->data(), image.data(),
              std::min(image.size(), engine->size()));
}

// The engine's buffer back into the caller's, with the text family's zero
// byte.
void Give(const IndexKeyDescriptor& key, const EngineKey& engine,
          std::span<uint8_t> image) {
  std::memcpy(image.data(), engine.data(),
              std::min(image.size(), engine.size()));
  if (IsTextValueType(key.key_value_type) && key.key_length >= 1 &&
      key.key_length - 1 < image.size())
    image[key.key_length - 1] = 0;
}

enum class Step { kFirst, kLast, kNext, kPrevious, kCurrent };

// Each family's step calls in Step order. The current entry of IDX and NTX
// files is found instead (kbdifind, kbdxfind: the caller's key kept).
template <typename Handle>
using StepCalls = std::array<int16_t (*)(Handle, void*, uint32_t*), 5>;
constexpr StepCalls<int16_t> kNdxSteps = {kbdnkfirst, kbdnklast, kbdnknext,
                                          kbdnkprev, kbdnkcur};
constexpr StepCalls<int32_t> kMdxSteps = {kbdmkfirst, kbdmklast, kbdmknext,
                                          kbdmkprev, kbdmkcur};
constexpr StepCalls<int16_t> kIdxSteps = {kbdifirst, kbdilast, kbdinext,
                                          kbdiprev, nullptr};
constexpr StepCalls<int32_t> kCdxSteps = {kbdcfirst, kbdclast, kbdcnext,
                                          kbdcprev, kbdccurrent};
constexpr StepCalls<int16_t> kNtxSteps = {kbdxfirst, kbdxlast, kbdxnext,
                                          kbdxprev, nullptr};

template <typename Handle>
int32_t StepWith(
    const StepCalls<Handle>& calls,
    std::type_identity_t<int16_t (*)(Handle, const void*, uint32_t)> find,
    Handle handle, Step step, uint8_t* k, uint32_t* recno) {
  const auto call = calls[static_cast<size_t>(step)];
  if (call == nullptr) return Call(find, handle, k, *recno);
  return Call(call, handle, k, recno);
}

int32_t RunStep(const IndexKeyDescriptor& key, Step step, uint8_t* k,
                uint32_t* recno) {
  const int16_t h = Handle16(key.index_handle);
  const int32_t t = Tag32(key.tag_handle);
  switch (IndexFamilyOf(key.dialect)) {
    case IndexFamily::kNdx:
      return StepWith(kNdxSteps, nullptr, h, step, k, recno);
    case IndexFamily::kMdx:
      return StepWith(kMdxSteps, nullptr, t, step, k, recno);
    case IndexFamily::kIdx:
      return StepWith(kIdxSteps, kbdifind, h, step, k, recno);
    case IndexFamily::kCdx:
      return StepWith(kCdxSteps, nullptr, t, step, k, recno);
    case IndexFamily::kNtx:
      return StepWith(kNtxSteps, kbdxfind, h, step, k, recno);
    case IndexFamily::kNone:
      break;
  }
  return kStatusNoIndexEngine;
}

// NDX files and MDX tags move from the current key of their handle, which
// every browse of that handle shares; the caller's entry (k, *recno) is
// made the handle's current key first (a search of the pair), so that each
// caller moves from its own entry. A pair that has gone (removed through
// another handle) leaves the search on the greatest smaller pair (4) or on
// the first one (12): the next entry is then the one found or the one
// after it, the previous one the one found or none.
int32_t RunStepFromPair(const IndexKeyDescriptor& key, Step step, uint8_t* k,
                        uint32_t* recno) {
  const bool ndx = IndexFamilyOf(key.dialect) == IndexFamily::kNdx;
  const int16_t h = Handle16(key.index_handle);
  const int32_t t = Tag32(key.tag_handle);
  const int32_t found =
      ndx ? Call(kbdnkfind, h, k, recno, uint16_t{kKbdFindRecno})
          : Call(kbdmkfind, t, k, recno, uint16_t{kKbdFindRecno});
  if (step == Step::kCurrent || found < 0 || found == kKbdEmptyFile)
    return found;
  if (step == Step::kNext) {
    if (found == kKbdKeyNotFoundEnd) return kKbdOk;  // on the first entry
  } else {
    if (found == kKbdKeyNotFound) return kKbdOk;  // on the smaller entry
    if (found == kKbdKeyNotFoundEnd) return kKbdNoMoreKeys;
  }
  return RunStep(key, step, k, recno);
}

int32_t Navigate(const IndexKeyDescriptor& key, Step step,
                 std::span<uint8_t> image, uint32_t* recno) {
  const IndexFamily family = IndexFamilyOf(key.dialect);
  if (family == IndexFamily::kNone) return kStatusNoIndexEngine;
  if (step == Step::kFirst || step == Step::kLast)
    std::fill(image.begin(), image.end(), uint8_t{0});
  if (int32_t s = SetKeyType(key); s < 0) return s;
  EngineKey engine;
  Take(image, &engine);
  const bool from_pair =
      (family == IndexFamily::kNdx || family == IndexFamily::kMdx) &&
      step != Step::kFirst && step != Step::kLast;
  const int32_t status = from_pair
                             ? RunStepFromPair(key, step, engine.data(), recno)
                             : RunStep(key, step, engine.data(), recno);
  Give(key, engine, image);
  return status;
}

// The key length the descriptor's index itself reports (the bytes its
// record-key operations hand out, NUL not counted).
int32_t DescribedKeyLength(const IndexKeyDescriptor& key, uint32_t* length) {
  IndexKeyInfo info;
  const int32_t status =
      DescribeKeyByTag(&info, key.dialect, key.index_handle, key.tag_handle);
  if (status < 0) return status;
  *length = info.key_length - (info.key_type == 'C' ? 1u : 0u);
  return status;
}

int32_t ExpressionKey(const IndexKeyDescriptor& key, uint16_t dbf_handle,
                      std::span<uint8_t> image) {
  uint32_t engine_length = 0;
  if (int32_t s = DescribedKeyLength(key, &engine_length); s < 0) return s;
  const int16_t dbf = Handle16(dbf_handle);
  const int16_t h = Handle16(key.index_handle);
  const int32_t t = Tag32(key.tag_handle);
  EngineBuffer made;
  int32_t status = kStatusNoIndexEngine;
  switch (IndexFamilyOf(key.dialect)) {
    case IndexFamily::kNdx:
      status = Call(kbdnkmake, dbf, h, made.out());
      break;
    case IndexFamily::kMdx:
      status = Call(kbdmkmake, dbf, t, made.out());
      break;
    case IndexFamily::kIdx:
      status = Call(kbdikeyrec, dbf, h, made.out());
      break;
    case IndexFamily::kCdx:
      status = Call(kbdckeyrec, dbf, t, made.out());
      break;
    case IndexFamily::kNtx:
      status = Call(kbdxkeyrec, dbf, h, made.out());
      break;
    case IndexFamily::kNone:
      break;
  }
  if (status < 0 || made.bytes() == nullptr) return status;
  // The engine's key and its NUL; a character key without its blanks.
  size_t n = engine_length;
  if (key.key_type == 'C')
    while (n > 0 && made.bytes()[n - 1] == ' ') --n;
  std::fill(image.begin(), image.end(), uint8_t{0});
  const size_t copied =
      std::min<size_t>({n, image.size(), static_cast<size_t>(key.key_length)});
  std::memcpy(image.data(), made.bytes(), copied);
  return status;
}

int32_t FieldKey(const IndexKeyDescriptor& key, uint16_t dbf_handle,
                 int32_t field_number, uint16_t field_type,
                 std::span<uint8_t> image) {
  const int16_t dbf = Handle16(dbf_handle);
  const int16_t field = static_cast<int16_t>(field_number);
  const char type = static_cast<char>(field_type & ~0x20);
  std::string area(kFieldValueRoom, '\0');
  PlainKeyValue value;
  int16_t key_type = 0;
  int32_t status = 0;
  switch (type) {
    case 'N':
    case 'B':
    case 'F':
    case 'Y':
      status = Call(kbddget, dbf, field, &value.number);
      key_type = type == 'Y' ? int16_t{kKeyCurrency} : int16_t{'N'};
      break;
    case 'I':
      status = Call(kbddget, dbf, field, &value.integer);
      value.number = value.integer;
      key_type = kKeyInteger;
      break;
    case 'T':
      status = Call(kbddget, dbf, field, area.data());
      value.text.assign(area.c_str());
      key_type = kKeyDateTime;
      break;
    case 'D':
    case 'C':
    case 'L': {
      // The stored bytes: dates as YYYYMMDD whatever the task's format.
      uint16_t length = 0;
      status = Call(kbddgetraw, dbf, field, area.data(), &length);
      value.text.assign(area.data(), std::min<size_t>(length, area.size()));
      key_type = type == 'D' ? int16_t{'D'} : int16_t{'C'};
      break;
    }
    case 'V':
      status = Call(kbddget, dbf, field, area.data());
      value.text.assign(area.c_str());
      key_type = 'C';
      break;
    default:
      return kStatusNotConvertible;
  }
  if (status < 0) return status;
  std::fill(image.begin(), image.end(), uint8_t{0});
  return MakeKeyOf(key, key_type, value, image);
}

}  // namespace

int32_t SetKeyType(const IndexKeyDescriptor& key) {
  const uint16_t type = static_cast<uint16_t>(key.key_type) & ~uint16_t{0x20};
  switch (IndexFamilyOf(key.dialect)) {
    case IndexFamily::kIdx:
      return Call(kbdikeytype, Handle16(key.index_handle), type);
    case IndexFamily::kCdx: {
      // The binary keys are padded as numbers are: with zero bytes.
      const bool binary =
          type == kKeyCurrency || type == kKeyInteger || type == kKeyDateTime;
      return Call(kbdckeytype, Tag32(key.tag_handle),
                  binary ? uint16_t{'N'} : type);
    }
    default:
      return 0;
  }
}

int32_t FirstKey(const IndexKeyDescriptor& key, std::span<uint8_t> image,
                 uint32_t* recno) {
  return Navigate(key, Step::kFirst, image, recno);
}

int32_t LastKey(const IndexKeyDescriptor& key, std::span<uint8_t> image,
                uint32_t* recno) {
  return Navigate(key, Step::kLast, image, recno);
}

int32_t NextKey(const IndexKeyDescriptor& key, std::span<uint8_t> image,
                uint32_t* recno) {
  return Navigate(key, Step::kNext, image, recno);
}

int32_t PreviousKey(const IndexKeyDescriptor& key, std::span<uint8_t> image,
                    uint32_t* recno) {
  return Navigate(key, Step::kPrevious, image, recno);
}

int32_t CurrentKey(const IndexKeyDescriptor& key, std::span<uint8_t> image,
                   uint32_t* recno) {
  return Navigate(key, Step::kCurrent, image, recno);
}

int32_t SeekKey(const IndexKeyDescriptor& key, std::span<uint8_t> image,
                bool pad, uint32_t* recno, uint16_t search_mode) {
  const IndexFamily family = IndexFamilyOf(key.dialect);
  if (family == IndexFamily::kNone) return kStatusNoIndexEngine;
  if (pad && IsTextValueType(key.item_type) &&
      IsTextValueType(key.key_value_type) && key.key_length >= 1 &&
      key.key_length - 1 < image.size()) {
    const size_t end = static_cast<size_t>(key.key_length - 1);
    const size_t length =
        strnlen(reinterpret_cast<const char*>(image.data()), end);
    std::fill(image.begin() + static_cast<ptrdiff_t>(length),
              image.begin() + static_cast<ptrdiff_t>(end), uint8_t{' '});
    image[end] = 0;
  }
  if (int32_t s = SetKeyType(key); s < 0) return s;
  EngineKey engine;
  Take(image, &engine);
  uint8_t* k = engine.data();
  const int16_t h = Handle16(key.index_handle);
  const int32_t t = Tag32(key.tag_handle);
  int32_t status = kStatusNoIndexEngine;
  switch (family) {
    case IndexFamily::kNdx:
      status = Call(kbdnkfind, h, k, recno, search_mode);
      break;
    case IndexFamily::kMdx:
      status = Call(kbdmkfind, t, k, recno, search_mode);
      break;
    case IndexFamily::kIdx:
      status = Call(kbdiseek, h, k, recno, search_mode);
      break;
    case IndexFamily::kCdx:
      status = Call(kbdcfind, t, k, recno, search_mode);
      break;
    case IndexFamily::kNtx:
      status = Call(kbdxseek, h, k, recno, search_mode);
      break;
    case IndexFamily::kNone:
      break;
  }
  Give(key, engine, image);
  return status;
}

int32_t SeekKeyNotBefore(const IndexKeyDescriptor& key,
                         std::span<uint8_t> image, uint32_t* recno) {
  *recno = 0;
  const int32_t status = SeekKey(key, image, false, recno, kSeekNotBelow);
  const IndexFamily family = IndexFamilyOf(key.dialect);
  if (family == IndexFamily::kNdx || family == IndexFamily::kMdx) {
    // A miss stops on the greatest smaller entry (4), or before the first
    // one (12).
    if (status == kKbdKeyNotFoundEnd) return kKbdOk;
    if (status == kKbdKeyNotFound) return NextKey(key, image, recno);
    return status;
  }
  // A miss stops on the next entry (4), or past the last one (12).
  if (status == kKbdKeyNotFound) return kKbdOk;
  if (status == kKbdKeyNotFoundEnd) return kKbdNoMoreKeys;
  return status;
}

int32_t SeekKeyEntry(const IndexKeyDescriptor& key, std::span<uint8_t> image,
                     bool pad, uint32_t* recno, uint16_t search_mode) {
  const int32_t status = SeekKey(key, image, pad, recno, search_mode);
  switch (IndexFamilyOf(key.dialect)) {
    case IndexFamily::kNdx:
    case IndexFamily::kMdx: {
      // A miss stops on the greatest smaller entry (4), or on the first
      // entry when none is smaller (12).
      if (status == kKbdKeyNotFoundEnd) return kKbdKeyNotFound;
      if (status != kKbdKeyNotFound) return status;
      EngineKey smaller{};
      const size_t n = std::min(image.size(), smaller.size());
      std::memcpy(smaller.data(), image.data(), n);
      const uint32_t smaller_recno = *recno;
      const int32_t next = NextKey(key, image, recno);
      if (next == kKbdOk) return kKbdKeyNotFound;
      if (next != kKbdNoMoreKeys) return next;
      std::memcpy(image.data(), smaller.data(), n);
      *recno = smaller_recno;
      return kKbdKeyNotFoundEnd;
    }
    case IndexFamily::kCdx: {
      // Past the last entry the tag answers "no more keys" without a
      // position: stand on the last entry.
      if (status != kKbdNoMoreKeys) return status;
      const int32_t last = LastKey(key, image, recno);
      return last == kKbdOk ? int32_t{kKbdKeyNotFoundEnd} : last;
    }
    default:
      return status;
  }
}

int32_t AddKey(const IndexKeyDescriptor& key, std::span<const uint8_t> image,
               uint32_t recno) {
  if (int32_t s = SetKeyType(key); s < 0) return s;
  EngineKey engine;
  Take(image, &engine);
  const uint8_t* k = engine.data();
  const int16_t h = Handle16(key.index_handle);
  const int32_t t = Tag32(key.tag_handle);
  switch (IndexFamilyOf(key.dialect)) {
    case IndexFamily::kNdx:
      return Call(kbdnkadd, h, k, recno);
    case IndexFamily::kMdx:
      return Call(kbdmkadd, t, k, recno);
    case IndexFamily::kIdx:
      return Call(kbdiadd, h, k, recno);
    case IndexFamily::kCdx:
      return Call(kbdcadd, t, k, recno);
    case IndexFamily::kNtx:
      return Call(kbdxadd, h, k, recno);
    case IndexFamily::kNone:
      break;
  }
  return kStatusNoIndexEngine;
}

int32_t DeleteKey(const IndexKeyDescriptor& key, std::span<const uint8_t> image,
                  uint32_t recno) {
  if (int32_t s = SetKeyType(key); s < 0) return s;
  EngineKey engine;
  Take(image, &engine);
  const uint8_t* k = engine.data();
  const int16_t h = Handle16(key.index_handle);
  const int32_t t = Tag32(key.tag_handle);
  switch (IndexFamilyOf(key.dialect)) {
    case IndexFamily::kNdx:
      return Call(kbdnkdel, h, k, recno);
    case IndexFamily::kMdx:
      return Call(kbdmkdel, t, k, recno);
    case IndexFamily::kIdx:
      return Call(kbdidelete, h, k, recno);
    case IndexFamily::kCdx:
      return Call(kbdcdelete, t, k, recno);
    case IndexFamily::kNtx:
      return Call(kbdxdelete, h, k, recno);
    case IndexFamily::kNone:
      break;
  }
  return kStatusNoIndexEngine;
}

int32_t RecordKey(const IndexKeyDescriptor& key, uint16_t dbf_handle,
                  int32_t field_number, uint16_t field_type,
                  std::span<uint8_t> image) {
  if (IndexFamilyOf(key.dialect) == IndexFamily::kNone)
    return kStatusNoIndexEngine;
  if (field_number < 0) return ExpressionKey(key, dbf_handle, image);
  return FieldKey(key, dbf_handle, field_number, field_type, image);
}

int32_t RecordBelongs(const IndexKeyDescriptor& key, uint16_t dbf_handle) {
  const int16_t dbf = Handle16(dbf_handle);
  switch (IndexFamilyOf(key.dialect)) {
    case IndexFamily::kNdx:
    case IndexFamily::kMdx:
      return 1;
    case IndexFamily::kIdx:
      return Call(kbdiforrec, dbf, Handle16(key.index_handle));
    case IndexFamily::kCdx:
      return Call(kbdcforrec, dbf, Tag32(key.tag_handle));
    case IndexFamily::kNtx:
      return Call(kbdxforrec, dbf, Handle16(key.index_handle));
    case IndexFamily::kNone:
      break;
  }
  return kStatusNoIndexEngine;
}

}  // namespace qx::access
