// The host's data types as the component and the host exchange them.
//
// The host is the 4GL runtime that loads the component. It describes
// connections, tables and records to the driver object (driver.h) with the
// plain records below, and exchanges values as HostValue. One definition of
// each, used by the component and by the reference host alike.
//
// Divisions: value type codes; item type codes; HostValue; connection
// description; file description and its items; host record buffer;
// condition trees; position records; host query objects.
//
// Rules for every record here: fixed-width integers and plain pointers only
// (no STL, no OS types); texts are NUL-terminated UTF-16 and a null text
// pointer reads as the empty text; the host owns every record and every
// text it hands over, for the length of the call that receives it, unless
// a field says otherwise.
//
// Codes marked "ours, not the host's" complete the host's lists where the
// host's own value is not known to us; every other code is the host's.
// All codes cross the boundary: never renumber.
#ifndef QX_HOST_TYPES_H_
#define QX_HOST_TYPES_H_

#include <cstddef>
#include <cstdint>

namespace qx {

// ---------------------------------------------------------------------------
// Host value types: the 8-bit type code of a HostValue. Never renumber.
//
// Fixed-size types keep their bytes in HostValue::fixed (little-endian);
// the text and binary types keep theirs behind HostValue::data.
enum HostValueType : uint8_t {
  kValueNone = 0,     // ours, not the host's: no value
  kValueBoolean = 1,  // 1 byte, 0 or 1; orders as a signed byte
  kValueUInt8 = 2,
  kValueUInt16 = 3,
  kValueUInt32 = 4,
  kValueUInt64 = 5,
  kValueInt8 = 6,
  kValueInt16 = 7,
  kValueInt32 = 8,
  kValueInt64 = 9,
  kValueCurrency = 10,      // 10 bytes: two's complement, units of 1/10000
  kValueFloat = 11,         // 4-byte IEEE float
  kValueDouble = 12,        // 8-byte IEEE float
  kValueDate = 13,          // ours, not the host's: int32 Julian day number
  kValueTime = 15,          // ours, not the host's: uint32 ms since midnight
  kValueChar = 17,          // 1 byte, code page 1252
  kValueText = 18,          // ANSI text, code page 1252, size in bytes
  kValueUnicodeText = 19,   // UTF-16 text, size in bytes (2 per unit)
  kValueFixedText = 21,     // ours, not the host's: blank-padded ANSI text
  kValueFixedUnicode = 22,  // ours, not the host's: blank-padded UTF-16
  kValueMemoText = 23,      // ours, not the host's: ANSI memo text
  kValueDateTime = 26,      // 8 bytes: uint32 Julian day, uint32 ms
  kValueInt64Alt = 27,      // the host's second signed 64-bit code
  kValueBinary = 28,        // bytes behind data
  kValueDecimal = 29,       // ours, not the host's: 16-byte two's
                            // complement integer, `scale` digits after
                            // the point
  kValueNull = 110,         // the framework's null value
  kValueRawBinary = 128,
  kValueRawBinaryAlt = 129,
  kValueUnicodeMemo = 134,  // ours, not the host's: UTF-16 memo text
};

// Whether a type belongs to the host's text family (texts of any form and
// the single character): key buffers of these types end with a NUL.
constexpr bool IsTextValueType(uint8_t type) {
  return type == kValueChar || type == kValueText ||
         type == kValueUnicodeText || type == kValueFixedText ||
         type == kValueFixedUnicode || type == kValueMemoText ||
         type == kValueUnicodeMemo;
}

// Types whose bytes live behind HostValue::data.
constexpr bool IsVariableValueType(uint8_t type) {
  return type == kValueText || type == kValueUnicodeText ||
         type == kValueFixedText || type == kValueFixedUnicode ||
         type == kValueMemoText || type == kValueUnicodeMemo ||
         type == kValueBinary || type == kValueRawBinary ||
         type == kValueRawBinaryAlt;
}

// Width in bytes of a fixed-size type's value; 0 for the variable and
// unknown types.
constexpr uint32_t FixedValueWidth(uint8_t type) {
  switch (type) {
    case kValueBoolean:
    case kValueUInt8:
    case kValueInt8:
    case kValueChar:
      return 1;
    case kValueUInt16:
    case kValueInt16:
      return 2;
    case kValueUInt32:
    case kValueInt32:
    case kValueFloat:
    case kValueDate:
    case kValueTime:
      return 4;
    case kValueUInt64:
    case kValueInt64:
    case kValueInt64Alt:
    case kValueDouble:
    case kValueDateTime:
      return 8;
    case kValueCurrency:
      return 10;
    case kValueDecimal:
      return 16;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// Host item types: the type of an item in a file description. Never
// renumber. The codes the driver produces from xBase fields and the codes
// it maps onto xBase fields at creation are the host's; the meanings of the
// others are ours, not the host's.
enum HostItemType : uint8_t {
  kItemNone = 0,
  kItemUInt8 = 1,  // ours, not the host's: 1-byte unsigned
  kItemText = 2,
  kItemInt16 = 3,
  kItemInt8 = 4,
  kItemInt32 = 5,
  kItemReal4 = 6,  // ours, not the host's: 4-byte real
  kItemReal8 = 7,
  kItemTime = 8,          // ours, not the host's
  kItemUInt16 = 9,        // ours, not the host's
  kItemFixedText = 10,    // ours, not the host's
  kItemUnicodeText = 11,  // ours, not the host's
  kItemUInt32 = 12,       // ours, not the host's
  kItemDuration = 13,     // ours, not the host's
  kItemDate = 14,
  kItemTextMemo = 15,
  kItemChar = 16,  // ours, not the host's
  kItemCurrency = 17,
  kItemBinaryMemo = 18,
  kItemInt64 = 19,
  kItemUInt64 = 20,        // ours, not the host's
  kItemUnicodeFixed = 21,  // ours, not the host's
  kItemNumericText = 22,   // ours, not the host's
  kItemBinary = 23,
  kItemDateTime = 24,
  kItemAutoId4 = 25,  // ours, not the host's: 4-byte identifier
  kItemBoolean = 26,
  kItemLogical = 27,
  kItemAutoId8 = 28,      // ours, not the host's: 8-byte identifier
  kItemImage = 29,        // ours, not the host's
  kItemUnicodeMemo = 30,  // ours, not the host's: memo of UTF-16 text
  kItemDecimal = 31,
};

// ---------------------------------------------------------------------------
// A host value. Value semantics for fixed types; text and binary bytes are
// behind `data`. A value whose state has kValueStateOwned holds bytes that
// the host's conversion service allocated: only that service's end of
// conversion (FinConversion) releases them.

enum HostValueState : uint16_t {
  kValueStateNull = 0x0100,      // the value is null
  kValueStateModified = 0x0400,  // changed since it was read
  kValueStateOwned = 0x8000,     // ours: data belongs to the host's
                                 // conversion service
};

struct HostValue {
  uint8_t type = kValueNone;   // HostValueType
  uint8_t scale = 0;           // kValueDecimal: digits after the point
  uint16_t state = 0;          // HostValueState bits
  uint32_t size = 0;           // bytes: the width of a fixed type, the
                               // byte count of a text (no NUL) or binary
  const void* data = nullptr;  // text and binary bytes; the texts the
                               // conversion service makes end with a NUL
                               // beyond `size`
  union {
    int64_t i64;
    uint64_t u64;
    double f64;
    float f32;
    uint8_t bytes[16];
  } fixed = {};
};

// ---------------------------------------------------------------------------
// Connection description: what the host knows of a connection. For the
// xBase driver the data source is the directory.
enum ConnectionAccess : uint32_t {
  kAccessReadWrite = 0,
  kAccessReadOnly = 1,
};

struct ConnectionDesc {
  const char16_t* name = nullptr;  // the connection's name
  const char16_t* provider = nullptr;
  const char16_t* data_source = nullptr;    // directory (or a file in it)
  const char16_t* extended_info = nullptr;  // "KEY=value;KEY=value"
  const char16_t* user = nullptr;
  const char16_t* password = nullptr;
  uint32_t access_mode = kAccessReadWrite;  // ConnectionAccess
};

// ---------------------------------------------------------------------------
// File description: the host's description of a table and its items.

// Key attribute bits of an item (FileItem::key_flags and the driver's
// description items). Never renumber.
enum KeyFlags : uint32_t {
  kKeyDescending = 1024,
  kKeyAscending = 2048,
  kKeyNotAField = 4096,  // a key made from an index key, not a field
  kKeyDuplicates = 8192,
  kKeyUnique = 16384,
};

// Other marks of an item (FileItem::flags). Ours, not the host's.
enum FileItemFlags : uint32_t {
  kItemFlagCompound = 0x01,     // a compound key: `formula` gives it
  kItemFlagNotStored = 0x02,    // the item has no field in the file
  kItemFlagAutoId = 0x04,       // automatic identifier
  kItemFlagAlternative = 0x08,  // type 23 taken as text at creation
};

struct FileItem {
  const char16_t* name = nullptr;
  uint8_t item_type = kItemNone;  // HostItemType
  uint8_t reserved[3] = {};
  uint32_t size = 0;    // host buffer size in bytes
  uint16_t digits = 0;  // integer digits of a number
  uint16_t decimals = 0;
  uint32_t key_flags = 0;   // KeyFlags; 0 when not a key
  uint32_t key_length = 0;  // written by the driver for compound keys
  const char16_t* index_file = nullptr;  // index file name, may be null
  const char16_t* formula = nullptr;     // compound key formula
  uint32_t component_count = 0;
  uint32_t* component_lengths = nullptr;  // component_count entries,
                                          // written by the driver
  uint32_t flags = 0;                     // FileItemFlags
};

// xBase file types as the host names them (file formats at creation).
enum XBaseFileType : uint32_t {
  kFileTypeOther = 1,
  kFileTypeDbase3 = 2,
  kFileTypeDbase4 = 3,
  kFileTypeFoxPro = 4,
  kFileTypeClipper5 = 5,
  kFileTypeClipper = 6,
  // Ours, not the host's: tables created as FoxPro 2 (0xF5 with an FPT
  // memo) and Visual FoxPro tables, both indexed by CDX files.
  kFileTypeFoxPro2 = 0x100,
  kFileTypeVisualFoxPro = 0x101,
};

struct FileDesc {
  const char16_t* name = nullptr;       // logical (table) name
  const char16_t* path = nullptr;       // data file path; null: default
  const char16_t* extension = nullptr;  // default extension, may be null
  const char16_t* extended_info = nullptr;
  uint32_t file_format = kFileTypeDbase3;  // XBaseFileType
  uint32_t flags = 0;
  FileItem* items = nullptr;
  uint32_t item_count = 0;
};

// ---------------------------------------------------------------------------
// Host record buffer: the items of one record as the host binds them.
//
// An item bound to a field (field_number >= 0) receives the field's value
// converted to its value_type, in `buffer` (capacity bytes; `length`
// receives the bytes in use): fixed types in their width, texts with a
// terminating NUL inside the capacity (a longer text is cut to capacity -
// 1 bytes). A memo item (kRecordItemMemo) holds a HostValue in its buffer
// (capacity at least sizeof(HostValue)): the memo's contents as a value
// the host's conversion service made, which the host releases with its
// end of conversion; reading the record empties it (of the item's
// value_type) and reading the memo fills it.

enum RecordItemFlags : uint16_t {
  kRecordItemSkip = 0x01,      // the driver leaves this item alone
  kRecordItemText = 0x02,      // the item holds text
  kRecordItemKey = 0x04,       // a key item
  kRecordItemUnique = 0x08,    // a key declared unique
  kRecordItemAutoId = 0x10,    // automatic identifier
  kRecordItemMemo = 0x20,      // a memo item (buffer holds a HostValue)
  kRecordItemCompound = 0x40,  // a compound key
  kRecordItemWritable = 0x80,  // the bound field may be written
};

// The state word of a record and of each of its items.
enum RecordState : uint16_t {
  kRecordActive = 0,
  kRecordDeleted = 64,
  kRecordItemNull = 0x0100,  // ours: the field is null (Visual FoxPro
                             // null flag, or a logical neither true nor
                             // false); the item holds its type's blank
};

struct RecordItem {
  const char16_t* name = nullptr;
  uint8_t value_type = kValueNone;  // HostValueType of the buffer
  uint8_t field_type = 0;           // bound xBase type letter; 0 unbound
  uint16_t flags = 0;               // RecordItemFlags
  int32_t field_number = -1;        // 0-based field of the DBF; -1 none
  uint32_t field_length = 0;
  uint32_t capacity = 0;   // bytes of `buffer`
  void* buffer = nullptr;  // the item's value bytes
  uint32_t length = 0;     // bytes in use
  uint16_t state = 0;      // RecordState bits
  uint8_t scale = 0;       // kValueDecimal: digits after the point
  uint8_t reserved = 0;
};

struct Record {
  RecordItem* items = nullptr;
  uint32_t item_count = 0;
  uint32_t recno = 0;      // 1-based; 0 before the first read
  uint16_t state = 0;      // RecordState
  uint16_t lock_kind = 0;  // 0 none, 2 and 3 lock kinds
};

// ---------------------------------------------------------------------------
// Condition trees of a browse (ranges and filters). Never renumber.
enum ConditionKind : uint32_t {
  kConditionOr = 1,
  kConditionAnd = 2,
  kConditionNot = 3,
  kConditionEqual = 4,
  kConditionGreater = 5,
  kConditionLess = 6,
  kConditionGreaterOrEqual = 7,
  kConditionLessOrEqual = 8,
  kConditionTrue = 9,
  kConditionFalse = 10,
  kConditionTrue2 = 11,
  kConditionNotEqual = 12,
};

struct Condition {
  uint32_t kind = kConditionTrue;   // ConditionKind; others count as true
  uint32_t generic = 0;             // 1: prefix comparison
  const Condition* left = nullptr;  // OR, AND: both; NOT: left only
  const Condition* right = nullptr;
  const char16_t* item_name = nullptr;  // comparisons
  HostValue value;                      // comparisons
};

// ---------------------------------------------------------------------------
// A saved browse position.
constexpr uint32_t kKeyImageSize = 101;  // key images of the access layer

struct PositionRecord {
  uint64_t framework_state = 0;  // the framework cursor's own state
  int32_t out_of_file = 0;
  int32_t in_file = 0;
  int32_t started = 0;
  uint8_t key_image[kKeyImageSize] = {};
  uint32_t recno = 0;
  int32_t visits = -1;
};

// ---------------------------------------------------------------------------
// A host query object: a browse the host asks the driver to run.
struct Query {
  uint64_t id = 0;  // the host object's identity
  const char16_t* table_name = nullptr;
  const char16_t* item_name = nullptr;  // browse item; null: record order
  const Condition* range = nullptr;
  const Condition* filter = nullptr;
  uint32_t search_flags = 0;  // bit 32: generic comparisons
  uint32_t lock_kind = 0;
  Record* record = nullptr;
};

// ---------------------------------------------------------------------------
// The host VM module's entries, which the component resolves by name in the
// module the host names (bInitZLConvFromVM, bInitZLCalcFromVM, Execution
// 3985). Their results below 100 are successes, 100 and above failures.

// Events the component sends to the host's own Execution entry.
enum HostVmEvent : uint32_t {
  kHostEventStopped = 3052,     // the library stops with a live handler
  kHostEventQueryValue = 3053,  // argument: number of the host value
};

// The host's own Execution entry in its VM module.
using HostExecutionFn = uintptr_t (*)(uint32_t event, uintptr_t argument);

// Host value 9: an object whose first operation takes the arguments of
// event 4963 and answers 2 or more when the handler is to be asked.
class IHostObject {
 public:
  virtual uint32_t Query(void* data, uintptr_t first, uintptr_t second) = 0;

 protected:
  ~IHostObject() = default;
};

// Results of the host's conversions and calculations.
enum HostResult : uint32_t {
  kHostOk = 0,
  kHostRounded = 1,         // done, with a loss of precision
  kHostOverflow = 100,      // the value does not fit the target type
  kHostIncompatible = 101,  // no conversion between these types
  kHostInvalid = 102,       // the source is not a value of its type
  kHostDivideByZero = 103,
  kHostNoMemory = 104,
};
constexpr bool HostFailed(uint32_t result) { return result >= 100; }

// nConversionDepassementExt: converts source into target of target_type
// (options: 0). The target's text and binary bytes belong to the host and
// are released by FinConversion.
using ConversionFn = uint32_t (*)(const HostValue* source, HostValue* target,
                                  uint8_t target_type, uint32_t options);
// FinConversion: releases what a conversion allocated for value; clears it.
using EndConversionFn = void (*)(HostValue* value);
// pQueryProxy of the host's VM module (interface 102).
using HostQueryProxyFn = void* (*)(int32_t interface_number);

// The 24 value-calculation entries, in the order the component resolves
// them. Comparisons write a kValueInt32 result (-1, 0, 1); predicates and
// the logical operations a kValueBoolean; arithmetic the common type of its
// operands. The w- entries change their first operand in place.
using CanCompareFn = int32_t (*)(const HostValue* a, const HostValue* b);
using InPlaceFn = uint32_t (*)(HostValue* a, const HostValue* b);
using CalcFn = uint32_t (*)(const HostValue* a, const HostValue* b,
                            HostValue* result);

constexpr int kCalculationEntryCount = 24;
inline constexpr const char* kCalculationEntryNames[kCalculationEntryCount] = {
    "bCanCompareEx",
    "wAjouteEx",
    "wSoustraitEx",
    "wMultiplieEx",
    "wDiviseEx",
    "wModuloEx",
    "nComparaisonEx",
    "nEgaliteEx",
    "nSuperieurEx",
    "nInferieurEx",
    "nPresqueEgalEx",
    "nSoupleEgalEx",
    "nCommencePar",
    "nCommenceParSoupleEx",
    "nCommenceParTresSoupleEx",
    "nETLogiqueEx",
    "nOULogiqueEx",
    "nNONLogiqueEx",
    "nNegationEx",
    "nAdditionEx",
    "nSoustractionEx",
    "nMultiplicationEx",
    "nDivisionEx",
    "nModuloEx"};

// Indexes into kCalculationEntryNames.
enum CalculationEntry : int {
  kCalcCanCompare = 0,
  kCalcAddInPlace = 1,
  kCalcSubtractInPlace = 2,
  kCalcMultiplyInPlace = 3,
  kCalcDivideInPlace = 4,
  kCalcModuloInPlace = 5,
  kCalcCompare = 6,
  kCalcEqual = 7,
  kCalcGreater = 8,
  kCalcLess = 9,
  kCalcAlmostEqual = 10,
  kCalcFlexibleEqual = 11,
  kCalcStartsWith = 12,
  kCalcFlexibleStartsWith = 13,
  kCalcVeryFlexibleStartsWith = 14,
  kCalcAnd = 15,
  kCalcOr = 16,
  kCalcNot = 17,
  kCalcNegate = 18,
  kCalcAdd = 19,
  kCalcSubtract = 20,
  kCalcMultiply = 21,
  kCalcDivide = 22,
  kCalcModulo = 23,
};

// Versions the bindings accept: the first at least 2, the second at most 2.
constexpr int32_t kBindingMinFirstVersion = 2;
constexpr int32_t kBindingMaxSecondVersion = 2;
// The host proxy the conversion binding asks the VM module for.
constexpr int32_t kHostProxyInterface = 102;

// The layout the host sees, the same on the Windows x64 and Linux x86-64
// builds (fixed-width integers and 8-byte pointers only): a change here is
// a change of the binary interface.
static_assert(sizeof(HostValue) == 32);
static_assert(offsetof(HostValue, size) == 4);
static_assert(offsetof(HostValue, data) == 8);
static_assert(offsetof(HostValue, fixed) == 16);
static_assert(sizeof(ConnectionDesc) == 56);
static_assert(offsetof(ConnectionDesc, access_mode) == 48);
static_assert(sizeof(FileItem) == 72);
static_assert(offsetof(FileItem, size) == 12);
static_assert(offsetof(FileItem, key_flags) == 20);
static_assert(offsetof(FileItem, index_file) == 32);
static_assert(offsetof(FileItem, component_count) == 48);
static_assert(offsetof(FileItem, component_lengths) == 56);
static_assert(offsetof(FileItem, flags) == 64);
static_assert(sizeof(FileDesc) == 56);
static_assert(offsetof(FileDesc, file_format) == 32);
static_assert(offsetof(FileDesc, items) == 40);
static_assert(offsetof(FileDesc, item_count) == 48);
static_assert(sizeof(RecordItem) == 40);
static_assert(offsetof(RecordItem, field_number) == 12);
static_assert(offsetof(RecordItem, buffer) == 24);
static_assert(offsetof(RecordItem, length) == 32);
static_assert(offsetof(RecordItem, state) == 36);
static_assert(sizeof(Record) == 24);
static_assert(offsetof(Record, item_count) == 8);
static_assert(offsetof(Record, recno) == 12);
static_assert(offsetof(Record, lock_kind) == 18);
static_assert(sizeof(Condition) == 64);
static_assert(offsetof(Condition, left) == 8);
static_assert(offsetof(Condition, item_name) == 24);
static_assert(offsetof(Condition, value) == 32);
static_assert(sizeof(PositionRecord) == 136);
static_assert(offsetof(PositionRecord, key_image) == 20);
static_assert(offsetof(PositionRecord, recno) == 124);
static_assert(offsetof(PositionRecord, visits) == 128);
static_assert(sizeof(Query) == 56);
static_assert(offsetof(Query, table_name) == 8);
static_assert(offsetof(Query, range) == 24);
static_assert(offsetof(Query, search_flags) == 40);
static_assert(offsetof(Query, record) == 48);

}  // namespace qx

#endif  // QX_HOST_TYPES_H_
