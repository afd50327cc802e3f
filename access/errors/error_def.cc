// gstErrorDef, the driver's module descriptor, and resource formatting.
#include "access/errors/error_def.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "framework/error_sink.h"
#include "framework/framework_state.h"
#include "resources/message_store.h"

namespace qx::access {

// Resource ids of the framework's shared texts that the platform leaves
// unnumbered are ours (the 29000 range of resources/messages.txt).
const ErrorDefinition gstErrorDef[] = {
    // Shared with the platform's other drivers.
    {framework::kErrorOutOfMemory, 29000, 29000, kLevelFatal},
    {framework::kErrorReindexKey, 28885, 34, kLevelFatal},
    {framework::kErrorUnsupported, 29001, 29001, kLevelFatal},
    {framework::kErrorInvalidConnection, 29002, 29002, kLevelFatal},
    // The xBase driver's rows: detail id = resource id.
    {1000, 2621, 2621, kLevelFatal},
    {1001, 2622, 2622, kLevelOnReturn},
    {1002, 2623, 2623, kLevelFatal},
    {1003, 2627, 2627, kLevelFatal},
    {1004, 2633, 2633, kLevelOnReturn},
    {1005, 2634, 2634, kLevelFatal},
    {1006, 2635, 2635, kLevelFatal},
    {1008, 2642, 2642, kLevelFatal},
    {1010, 2649, 2649, kLevelOnReturn},
    {1011, 3085, 3085, kLevelFatal},
    {1014, 2657, 2657, kLevelFatal},
    {1015, 2659, 2659, kLevelFatal},
    {1016, 2661, 2661, kLevelFatal},
    {1017, 2662, 2662, kLevelFatal},
    {1018, 2668, 2668, kLevelFatal},
    {1019, 2758, 2758, kLevelFatal},
    {1020, 2757, 2757, kLevelFatal},
    {1021, 2759, 2759, kLevelFatal},
    {1022, 2760, 2760, kLevelFatal},
    {1023, 2766, 2766, kLevelFatal},
    {1024, 2767, 2767, kLevelFatal},
    {1025, 2775, 2775, kLevelOnReturn},
    {1026, 2778, 2778, kLevelFatal},
    {1027, 2777, 2777, kLevelFatal},
    {1028, 2956, 2956, kLevelFatal},
    {1029, 2960, 2960, kLevelFatal},
    {1030, 2961, 2961, kLevelFatal},
    {1031, 2962, 2962, kLevelFatal},
    {1032, 2963, 2963, kLevelFatal},
    {1033, 2964, 2964, kLevelOnReturn},
    {1034, 2965, 2965, kLevelFatal},
    {1035, 2966, 2966, kLevelFatal},
    {1036, 2969, 2969, kLevelFatal},
    {1037, 2970, 2970, kLevelFatal},
    {1038, 2974, 2974, kLevelFatal},
    {1039, 3030, 3030, kLevelFatal},
    {1040, 3031, 3031, kLevelFatal},
    {1041, 3038, 3038, kLevelOnReturn},
    {1042, 3044, 3044, kLevelFatal},
    {1043, 3045, 3045, kLevelFatal},
    {1044, 2971, 2971, kLevelFatal},
    {1045, 3046, 3046, kLevelFatal},
    {1046, 3047, 3047, kLevelFatal},
    {1047, 3048, 3048, kLevelFatal},
    {1048, 2973, 2973, kLevelFatal},
    {1049, 2972, 2972, kLevelFatal},
    {1050, 3049, 3049, kLevelFatal},
    {1051, 2976, 2976, kLevelFatal},
    {1052, 3050, 3050, kLevelFatal},
    {1053, 3072, 3072, kLevelFatal},
    {1054, 3073, 3073, kLevelFatal},
    {1055, 3084, 3084, kLevelFatal},
    {1056, 3086, 3086, kLevelFatal},
    {1057, 3087, 3087, kLevelFatal},
    {1058, 3092, 3092, kLevelFatal},
    {1059, 3029, 3029, kLevelFatal},
    {1060, 3343, 3343, kLevelFatal},
    {1061, 3354, 3354, kLevelFatal},
    {1062, 3356, 3356, kLevelFatal},
    {1063, 3364, 3364, kLevelFatal},
    {1064, 3367, 3367, kLevelFatal},
    {1065, 3393, 3393, kLevelFatal},
    {1066, 3418, 3418, kLevelFatal},
    {1067, 3431, 3431, kLevelFatal},
    {1068, 3434, 3434, kLevelFatal},
    {1069, 3492, 3492, kLevelFatal},
    {1070, 28954, 28954, kLevelFatal},
    {1071, 3682, 3682, kLevelFatal},
};
const uint32_t kErrorDefCount = std::size(gstErrorDef);

namespace {

// Room the host's provider gets for one text, in characters: more than the
// longest message of the store.
constexpr uint32_t kProviderBufferSize = 4096;

std::u16string Decimal(uint64_t n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

bool LoadDriverResource(uint32_t resource_id, std::u16string* text) {
  if (MessageProviderFn provider = framework::Framework().message_provider) {
    std::u16string buffer(kProviderBufferSize, u'\0');
    const int32_t count =
        provider(resource_id, buffer.data(), kProviderBufferSize);
    if (count > 0) {
      buffer.resize(std::min<uint32_t>(static_cast<uint32_t>(count),
                                       kProviderBufferSize - 1));
      *text = std::move(buffer);
      return true;
    }
  }
  return resources::FindMessage(resource_id, text, nullptr);
}

const ErrorModule& DriverModule() {
  static const ErrorModule module = {gstErrorDef, kErrorDefCount,
                                     &LoadDriverResource, u"qx180db64",
                                     kComponentVersionText};
  return module;
}

const ErrorDefinition* FindErrorDefinition(const ErrorModule& module,
                                           uint32_t id) {
  for (uint32_t i = 0; i < module.row_count; ++i) {
    if (module.rows[i].id == id) return &module.rows[i];
  }
  return nullptr;
}

std::u16string FormatResource(const ErrorModule& module, uint32_t resource_id,
                              std::span<const platform::MessageArg> args) {
  std::u16string text;
  if (module.loader == nullptr || !module.loader(resource_id, &text)) {
    return u"##(CXError)-Ressource <" + Decimal(resource_id) +
           u"> non chargée##";
  }
  if (text.empty()) {
    return u"##(CXError)-Ressource <" + Decimal(resource_id) +
           u"> vide. LastError = <" + Decimal(platform::LastError()) + u">##";
  }
  return platform::FormatMessageText(text, args);
}

std::u16string MissingDefinitionText(uint32_t id) {
  return u"##(CXError)-Pas de definition d'erreur dans gstErrorDef pour "
         u"l'identifiant <" +
         Decimal(id) + u">##";
}

std::u16string DebugLine(uint32_t unit, uint32_t site) {
  std::u16string line = u"IE";
  line += kModuleCode;
  line += u"=" + Decimal(unit) + u"." + Decimal(site) + u"\r\nModule=<";
  line += kModuleCode;
  line += u">\r\nVersion=<";
  line += kComponentVersionText;
  line += u">";
  return line;
}

int32_t CategoryOfError(uint32_t id) {
  if (id == 1041) return 2;
  if (id == 1053) return 3;
  return 0;
}

}  // namespace qx::access
