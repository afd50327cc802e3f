// The framework's connection.
#include "framework/native_connection.h"

#include "framework/guard.h"
#include "framework/names.h"

namespace qx::framework {

CNativeConnection::CNativeConnection(std::u16string_view name,
                                     const ConnectionDesc* desc)
    : name_(name) {
  if (desc == nullptr) return;
  provider_ = HostText(desc->provider);
  data_source_ = HostText(desc->data_source);
  extended_info_ = HostText(desc->extended_info);
  user_ = HostText(desc->user);
  password_ = HostText(desc->password);
  access_mode_ = desc->access_mode;
}

int32_t CNativeConnection::Open(IErrorContext* /*errors*/) {
  open_ = true;
  return 1;
}

int32_t CNativeConnection::IsOpen() { return open_ ? 1 : 0; }

int32_t CNativeConnection::Close(IErrorContext* /*errors*/) {
  open_ = false;
  return 1;
}

int32_t CNativeConnection::StartTransaction(const char16_t* name) {
  return Guarded(0, [&] {
    if (transaction_depth_ == 0) transaction_name_ = HostText(name);
    ++transaction_depth_;
    return 1;
  });
}

// Both ways end one level; a connection without a transaction answers 0.
int32_t CNativeConnection::EndTransaction(int32_t /*way*/) {
  if (transaction_depth_ == 0) return 0;
  if (--transaction_depth_ == 0) transaction_name_.clear();
  return 1;
}

// The framework's questions have no yes for a connection that keeps no
// server state.
int32_t CNativeConnection::Ask(int32_t /*question*/) { return 0; }

int32_t CNativeConnection::Action(uintptr_t /*first*/, uintptr_t /*second*/) {
  return 1;
}

}  // namespace qx::framework
