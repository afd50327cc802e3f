// The evaluator's engine-wide state: the program's table of extension
// functions and the evaluation in progress.
//
// Key expressions are evaluated one at a time (the engine is not
// re-entrant); the running parser is recorded here so that an extension
// function's context calls can be checked against it and a nested
// evaluation refused. Written only from engine calls, which the caller
// serialises; no mutex. The table lives from kbdinitx to the next
// kbdinitx (kbdinit and kbdterm leave it).
#ifndef QX_ENGINE_EXPR_EXTENSIONS_H_
#define QX_ENGINE_EXPR_EXTENSIONS_H_

#include <string>
#include <string_view>
#include <vector>

#include "qx/engine.h"

namespace qx::engine {

class Parser;

struct ExtensionEntry {
  std::string name;  // with its '(', upper case; a copy of the program's
  KbdExtFunctionProc function = nullptr;
};

struct EvaluatorState {
  // Sorted by name in byte order; no name is a prefix of another (each
  // holds '(' only as its last byte), which keeps the binary search over
  // each entry's own length exact.
  std::vector<ExtensionEntry> extensions;
  // The evaluation in progress, null between evaluations.
  Parser* running = nullptr;
};

EvaluatorState& Evaluator();

// Drops the table and any record of a running evaluation.
void ResetEvaluatorStateForTesting();

// The entry whose name begins text, or null. The pointer stays valid
// while an evaluation runs (the table cannot change then).
const ExtensionEntry* FindExtension(std::string_view text);

// Marks parser as the running evaluation for the guard's lifetime.
// REQUIRES: no evaluation is running.
class RunningEvaluation {
 public:
  explicit RunningEvaluation(Parser* parser) { Evaluator().running = parser; }
  ~RunningEvaluation() { Evaluator().running = nullptr; }
  RunningEvaluation(const RunningEvaluation&) = delete;
  RunningEvaluation& operator=(const RunningEvaluation&) = delete;
};

}  // namespace qx::engine

#endif  // QX_ENGINE_EXPR_EXTENSIONS_H_
