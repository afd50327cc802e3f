// Running qxdb in-process from the interop tests: one command's exit
// status and streams, and the lines of a text.
#ifndef QX_TESTS_INTEROP_QXDB_RUN_H_
#define QX_TESTS_INTEROP_QXDB_RUN_H_

#include <sstream>
#include <string>
#include <vector>

#include "host/qxdb/cli.h"

namespace qx::qxdb {

struct Result {
  int rc;
  std::string out, err;
};

// Runs qxdb with args (the command first), input as its standard input.
inline Result Qxdb(const std::vector<std::string>& args,
                   const std::string& input = "") {
  std::ostringstream out, err;
  std::istringstream in(input);
  int rc = RunQxdb(args, out, err, in);
  return {rc, out.str(), err.str()};
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace qx::qxdb

#endif  // QX_TESTS_INTEROP_QXDB_RUN_H_
