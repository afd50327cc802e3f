// The progress of a long verb (reindex, import) on stderr: on a terminal a
// bar redrawn in place (a count when the total is not known), else plain
// lines "LABEL: DONE/TOTAL" (or "LABEL: DONE records") that a log keeps.
#ifndef QX_HOST_QXDB_PROGRESS_H_
#define QX_HOST_QXDB_PROGRESS_H_

#include <cstdint>
#include <ostream>
#include <string>

#include "host/qxdb/cli.h"

namespace qx::qxdb {

class Progress {
 public:
  Progress(Invocation& inv, std::string label);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress();  // ends a line drawn in place

  // done of total steps; total 0 when not known (a count of records).
  void Show(uint64_t done, uint64_t total);
  bool terminal() const { return terminal_; }
  bool shown() const { return shown_; }

 private:
  std::ostream& out_;
  std::string label_;
  bool terminal_;
  bool shown_ = false;
};

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_PROGRESS_H_
