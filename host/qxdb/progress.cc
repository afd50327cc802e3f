#include "host/qxdb/progress.h"

#include <iostream>

#include "platform/platform.h"

namespace qx::qxdb {

Progress::Progress(Invocation& inv, std::string label)
    : out_(inv.err()),
      label_(std::move(label)),
      // In-process runs (tests) write to their own stream: never a terminal.
      terminal_(&inv.err() == &std::cerr &&
                platform::StandardErrorIsTerminal()) {}

Progress::~Progress() {
  if (terminal_ && shown_) out_ << "\n" << std::flush;
}

void Progress::Show(uint64_t done, uint64_t total) {
  shown_ = true;
  if (!terminal_) {
    out_ << label_ << ": " << done;
    if (total != 0) {
      out_ << "/" << total << "\n";
    } else {
      out_ << " records\n";
    }
    return;
  }
  if (total == 0) {
    out_ << "\r" << label_ << ": " << done << " records" << std::flush;
    return;
  }
  constexpr uint64_t kWidth = 30;
  const uint64_t filled = done >= total ? kWidth : done * kWidth / total;
  out_ << "\r" << label_ << " [" << std::string(filled, '#')
       << std::string(kWidth - filled, '.') << "] " << done << "/" << total
       << std::flush;
}

}  // namespace qx::qxdb
