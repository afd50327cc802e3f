// The evaluator's engine-wide state, the installation of a program's
// extension-function table (kbdinitx) and the context calls extension
// functions make (kbdeterm, kbdeint, kbdeexpect, kbdepeek, kbderesult).
#include "engine/expr/extensions.h"

#include <cstring>
#include <new>
#include <utility>

#include "engine/core/last_error.h"
#include "engine/expr/parser.h"

namespace qx::engine {
namespace {

// The evaluator's state: built at compile time in static storage and
// never destroyed, so that neither an evaluation during static destruction
// nor a module unloaded with it loses anything; it owns heap memory only
// while extensions are registered.
union EvaluatorStorage {
  constexpr EvaluatorStorage() : state() {}
  ~EvaluatorStorage() {}
  EvaluatorState state;
};
constinit EvaluatorStorage g_evaluator;

// Compares text with name over name's length, the end of text counting as
// lower than any byte; bytes compare unsigned.
int CompareOverName(std::string_view text, std::string_view name) {
  for (size_t i = 0; i < name.size(); ++i) {
    if (i >= text.size()) return -1;
    unsigned char a = static_cast<unsigned char>(text[i]);
    unsigned char b = static_cast<unsigned char>(name[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  return 0;
}

// An entry's name can ever match an upper-cased, blank-free text position
// and keeps the table prefix-free: '(' last and nowhere else, no lower-case
// letter, no blank or delimiter, no NUL.
bool IsValidName(const char* name, int16_t length) {
  if (name == nullptr || length < 2 || name[length - 1] != '(') return false;
  for (int16_t i = 0; i < length - 1; ++i) {
    char c = name[i];
    if (c == '\0' || c == '(' || c == ')' || c == ',' || c == '+' || c == ' ' ||
        (c >= 'a' && c <= 'z')) {
      return false;
    }
  }
  return true;
}

// The running parser when context is the call it runs now, else null with
// the failure set as the last error in *status.
Parser* ContextParser(KbdExprContext* context, int16_t* status) {
  if (context == nullptr) {
    *status = Fail(kKbdErrNullPointer);
    return nullptr;
  }
  Parser* parser = Evaluator().running;
  if (parser == nullptr || parser->active_context() != context ||
      context->parser != parser) {
    *status = Fail(kKbdErrCommand);
    return nullptr;
  }
  *status = kKbdOk;
  return parser;
}

// Records the first failure of a context call; the evaluation fails with
// it whatever the extension function returns.
int16_t Record(KbdExprContext* context, int16_t status) {
  if (status < 0) {
    if (context->error == 0) context->error = status;
    Fail(status);
  }
  return status;
}

// Runs a context call's body; no exception leaves a C function.
template <typename Body>
int16_t Guarded(KbdExprContext* context, Body&& body) {
  int16_t status;
  Parser* parser = ContextParser(context, &status);
  if (parser == nullptr) return status;
  try {
    status = std::forward<Body>(body)(parser);
  } catch (const std::bad_alloc&) {
    status = kKbdErrNoMemory;
  } catch (...) {
    status = kKbdErrCorrupt;
  }
  return Record(context, status);
}

}  // namespace

EvaluatorState& Evaluator() { return g_evaluator.state; }

void ResetEvaluatorStateForTesting() { Evaluator() = EvaluatorState(); }

const ExtensionEntry* FindExtension(std::string_view text) {
  const std::vector<ExtensionEntry>& table = Evaluator().extensions;
  size_t low = 0;
  size_t high = table.size();
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    int order = CompareOverName(text, table[middle].name);
    if (order == 0) return &table[middle];
    if (order < 0)
      high = middle;
    else
      low = middle + 1;
  }
  return nullptr;
}

}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdinitx(int16_t memory, int16_t files,
                            const KbdExtFunction* table, int16_t count) {
  EvaluatorState& state = Evaluator();
  if (state.running != nullptr) return SetLastError(kKbdErrCommand);
  int16_t status = kbdinit(memory, files);
  if (status < 0) return status;
  state.extensions.clear();
  if (count == 0) return kKbdOk;
  if (count < 0) return SetLastError(kKbdErrCommand);
  if (table == nullptr) return SetLastError(kKbdErrNullPointer);
  try {
    std::vector<ExtensionEntry> entries;
    entries.reserve(static_cast<size_t>(count));
    for (int16_t i = 0; i < count; ++i) {
      const KbdExtFunction& entry = table[i];
      if (!IsValidName(entry.name, entry.name_length) ||
          entry.function == nullptr) {
        return SetLastError(kKbdErrCommand);
      }
      std::string name(entry.name, static_cast<size_t>(entry.name_length));
      if (!entries.empty() && !(entries.back().name < name))
        return SetLastError(kKbdErrCommand);  // unsorted or repeated
      entries.push_back({std::move(name), entry.function});
    }
    state.extensions = std::move(entries);
  } catch (const std::bad_alloc&) {
    return SetLastError(kKbdErrNoMemory);
  }
  return kKbdOk;
}

extern "C" int16_t kbdeterm(KbdExprContext* context, const void** value,
                            char* type, uint16_t* length) {
  if (value != nullptr) *value = nullptr;
  if (type != nullptr) *type = ' ';
  if (length != nullptr) *length = 0;
  return Guarded(context, [&](Parser* parser) -> int16_t {
    if (value == nullptr || type == nullptr || length == nullptr)
      return kKbdErrNullPointer;
    ExprValue& argument = context->arguments.emplace_back();
    int16_t status = parser->ParseArgument(&argument);
    if (status < 0) {
      context->arguments.pop_back();
      return status;
    }
    *value = argument.Data();
    *type = argument.type;
    *length = static_cast<uint16_t>(argument.Size());
    return kKbdOk;
  });
}

extern "C" int16_t kbdeint(KbdExprContext* context, int32_t* value) {
  return Guarded(context, [&](Parser* parser) -> int16_t {
    if (value == nullptr) return kKbdErrNullPointer;
    return parser->ReadInt(value);
  });
}

extern "C" int16_t kbdeexpect(KbdExprContext* context, char delimiter) {
  return Guarded(context, [&](Parser* parser) -> int16_t {
    return parser->Expect(delimiter);
  });
}

extern "C" int16_t kbdepeek(KbdExprContext* context, char* next) {
  return Guarded(context, [&](Parser* parser) -> int16_t {
    if (next == nullptr) return kKbdErrNullPointer;
    *next = parser->Peek();
    return kKbdOk;
  });
}

extern "C" int16_t kbderesult(KbdExprContext* context, const void* value,
                              char type, uint16_t length) {
  return Guarded(context, [&](Parser*) -> int16_t {
    if (value == nullptr) return kKbdErrNullPointer;
    ExprValue result;
    result.type = type;
    switch (type) {
      case 'C':
      case 'D':
        result.text.assign(static_cast<const char*>(value), length);
        break;
      case 'N':
      case 'F':
        std::memcpy(&result.number, value, sizeof(result.number));
        break;
      case 'L':
        std::memcpy(&result.logical, value, sizeof(result.logical));
        break;
      case 'M':
        std::memcpy(&result.block, value, sizeof(result.block));
        break;
      default:
        return kKbdErrKeyExpression;
    }
    context->result = std::move(result);
    return kKbdOk;
  });
}
