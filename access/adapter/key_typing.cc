// Key types learnt from key expressions (see key_typing.h).
#include "access/adapter/key_typing.h"

#include <string>
#include <vector>

#include "access/adapter/engine_call.h"
#include "access/adapter/key_image.h"
#include "qx/engine.h"
#include "qx/host_types.h"

namespace qx::access {
namespace {

// The key of an I field in a CDX tag: its 4-byte integer image.
constexpr uint16_t kIntegerKeyLength = 4;

using adapter_internal::Call;
using adapter_internal::EngineBuffer;

// The NTX key shape of a number that is not a bare N or F field.
constexpr uint16_t kNtxNumberWidth = 19;
constexpr uint16_t kNtxNumberDecimals = 4;
constexpr uint16_t kBinaryNumberKeyLength = 8;
constexpr uint16_t kDateKeyLength = 8;
constexpr uint16_t kLogicalKeyLength = 1;

int16_t RulesOf(XbaseDialect dialect) {
  return IndexFamilyOf(dialect) == IndexFamily::kNtx ? kKbdExprRulesClipper
                                                     : kKbdExprRulesDbase;
}

// The expression's type letter on the current record ('F' as 'N') and
// its text length.
int32_t Evaluate(XbaseDialect dialect, uint16_t dbf_handle,
                 std::string_view expression, char* type, uint16_t* length) {
  const std::string text(expression);
  EngineBuffer value;
  *type = ' ';
  *length = 0;
  const int32_t status =
      Call(kbddevalx, static_cast<int16_t>(dbf_handle), text.c_str(),
           int16_t{-1}, RulesOf(dialect), value.out(), type, length);
  if (*type == 'F') *type = 'N';
  return status;
}

// The width and decimals of a bare N or F field named by expression.
// The field an expression names when it is a bare field name (blanks
// around it allowed); false for any other expression.
bool NamedField(uint16_t dbf_handle, std::string_view expression,
                KbdFieldDef* out) {
  while (!expression.empty() && expression.front() == ' ')
    expression.remove_prefix(1);
  while (!expression.empty() && expression.back() == ' ')
    expression.remove_suffix(1);
  const std::string name(expression);
  int16_t number = -1;
  if (Call(kbddfieldno, static_cast<int16_t>(dbf_handle), &number,
           name.c_str()) < 0 ||
      number < 0)
    return false;
  KbdDbfInfo info{};
  if (Call(kbddinfo, static_cast<int16_t>(dbf_handle), &info) < 0 ||
      number >= info.field_count)
    return false;
  std::vector<KbdFieldDef> fields(static_cast<size_t>(info.field_count));
  uint16_t largest = 0;
  if (Call(kbddfields, static_cast<int16_t>(dbf_handle), &largest,
           fields.data()) < 0)
    return false;
  *out = fields[static_cast<size_t>(number)];
  return true;
}

bool FieldShape(uint16_t dbf_handle, std::string_view expression,
                uint16_t* width, uint16_t* decimals) {
  KbdFieldDef field{};
  if (!NamedField(dbf_handle, expression, &field)) return false;
  const char type = static_cast<char>(field.type & ~0x20);
  if (type != 'N' && type != 'F') return false;
  *width = field.length;
  *decimals = field.decimals;
  return true;
}

// Whether the expression is the bare name of an I field, which FoxPro
// keys in a CDX tag by its 4-byte integer image.
bool NamesIntegerField(uint16_t dbf_handle, std::string_view expression) {
  KbdFieldDef field{};
  return NamedField(dbf_handle, expression, &field) &&
         static_cast<char>(field.type & ~0x20) == 'I';
}

}  // namespace

uint8_t KeyValueTypeOf(XbaseDialect dialect, int16_t key_type) {
  switch (key_type) {
    case 'D':
    case 'N':
      switch (IndexFamilyOf(dialect)) {
        case IndexFamily::kNdx:
        case IndexFamily::kMdx:
        case IndexFamily::kIdx:
        case IndexFamily::kCdx:
          return kValueDouble;
        default:
          return kValueText;
      }
    case 'B':
    case 'Y':
    case 'T':
    case kKeyCurrency:
    case kKeyDateTime:
      return kValueDouble;
    case 'I':
    case kKeyInteger:
      return kValueInt32;
    case 'L':
      return kValueChar;
    default:
      return kValueText;
  }
}

int32_t TypeKeyFromTable(IndexKeyDescriptor* key, uint16_t dbf_handle,
                         std::string_view expression) {
  IndexKeyDescriptor typed = *key;
  const uint32_t engine_length = EngineKeyLength(*key);
  int32_t status = kKbdOk;
  switch (IndexFamilyOf(key->dialect)) {
    case IndexFamily::kNdx:
    case IndexFamily::kNtx: {
      char type = ' ';
      uint16_t length = 0;
      status = Evaluate(key->dialect, dbf_handle, expression, &type, &length);
      if (status < 0) return status;
      const bool ndx = IndexFamilyOf(key->dialect) == IndexFamily::kNdx;
      // An NDX file knows character from numeric keys: only a numeric one
      // may turn out to be a date index.
      if (ndx ? key->key_type == 'N' && type == 'D'
              : type == 'C' || type == 'N' || type == 'D')
        typed.key_type = type;
      break;
    }
    case IndexFamily::kIdx:
    case IndexFamily::kCdx: {
      char type = ' ';
      uint16_t form = 0;
      const int16_t dbf = static_cast<int16_t>(dbf_handle);
      status = IndexFamilyOf(key->dialect) == IndexFamily::kIdx
                   ? Call(kbdikeyform, dbf,
                          static_cast<int16_t>(key->index_handle), &type, &form)
                   : Call(kbdckeyform, dbf,
                          static_cast<int32_t>(key->tag_handle), &type, &form);
      if (status < 0) return status;
      typed.key_type = (form & kKbdFoxKeyInteger) != 0 ? int16_t{kKeyInteger}
                                                       : int16_t{type};
      typed.nullable = (form & kKbdFoxKeyNullable) != 0 ? 1 : 0;
      break;
    }
    case IndexFamily::kMdx:
      break;
    case IndexFamily::kNone:
      return kStatusNotConvertible;
  }
  typed.key_value_type = KeyValueTypeOf(typed.dialect, typed.key_type);
  typed.key_length =
      engine_length + (IsTextValueType(typed.key_value_type) ? 1u : 0u);
  *key = typed;
  return status;
}

int32_t KeyShapeForBuild(XbaseDialect dialect, uint16_t dbf_handle,
                         std::string_view expression, KeyShape* shape) {
  char type = ' ';
  uint16_t length = 0;
  const int32_t status =
      Evaluate(dialect, dbf_handle, expression, &type, &length);
  if (status < 0) return status;
  const IndexFamily family = IndexFamilyOf(dialect);
  KeyShape made;
  switch (type) {
    case 'C':
      made.type = 'C';
      made.key_length = length;
      break;
    case 'D':
      made.type = 'D';
      made.key_length = kDateKeyLength;
      break;
    case 'L':
      made.type = family == IndexFamily::kNdx ? 'N'
                  : family == IndexFamily::kMdx || family == IndexFamily::kNtx
                      ? 'C'
                      : 'L';
      made.key_length = kLogicalKeyLength;
      break;
    case 'N':
      made.type = 'N';
      made.key_length = kBinaryNumberKeyLength;
      if (family == IndexFamily::kNtx &&
          !FieldShape(dbf_handle, expression, &made.key_length,
                      &made.decimals)) {
        made.key_length = kNtxNumberWidth;
        made.decimals = kNtxNumberDecimals;
      }
      if (family == IndexFamily::kCdx &&
          NamesIntegerField(dbf_handle, expression))
        made.key_length = kIntegerKeyLength;
      break;
    default:
      return kStatusNotConvertible;
  }
  *shape = made;
  return status;
}

}  // namespace qx::access
