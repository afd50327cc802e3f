// CNativeConnection: the framework's connection, base of every driver's.
//
// Holds the connection's name and a copy of the host's connection
// description (the host's texts live only for the call that hands them
// over), a reference count, and the framework's transaction depth. A
// framework connection opens without work of its own; drivers replace
// open, is-open and close.
#ifndef QX_FRAMEWORK_NATIVE_CONNECTION_H_
#define QX_FRAMEWORK_NATIVE_CONNECTION_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/ref_counted.h"
#include "qx/driver.h"

namespace qx::framework {

class CNativeConnection : public RefCounted<IConnection> {
 public:
  // desc may be null (every text then empty).
  CNativeConnection(std::u16string_view name, const ConnectionDesc* desc);
  CNativeConnection(const CNativeConnection&) = delete;
  CNativeConnection& operator=(const CNativeConnection&) = delete;

  const char16_t* GetName() override { return name_.c_str(); }
  const char16_t* GetDataSource() override { return data_source_.c_str(); }
  int32_t Open(IErrorContext* errors) override;
  int32_t IsOpen() override;
  int32_t Close(IErrorContext* errors) override;
  int32_t StartTransaction(const char16_t* name) override;
  int32_t EndTransaction(int32_t way) override;
  int32_t NeedsTableReset() override { return 0; }
  int32_t Ask(int32_t question) override;
  int32_t Action(uintptr_t first, uintptr_t second) override;
  void Destroy() override { delete this; }

  const std::u16string& name() const { return name_; }
  const std::u16string& provider() const { return provider_; }
  const std::u16string& data_source() const { return data_source_; }
  const std::u16string& extended_info() const { return extended_info_; }
  const std::u16string& user() const { return user_; }
  uint32_t access_mode() const { return access_mode_; }
  uint32_t transaction_depth() const { return transaction_depth_; }
  const std::u16string& transaction_name() const { return transaction_name_; }

 protected:
  virtual ~CNativeConnection() = default;

 private:
  std::u16string name_;
  std::u16string provider_;
  std::u16string data_source_;
  std::u16string extended_info_;
  std::u16string user_;
  std::u16string password_;
  uint32_t access_mode_ = kAccessReadWrite;
  bool open_ = false;
  uint32_t transaction_depth_ = 0;   // nested starts not yet ended
  std::u16string transaction_name_;  // of the outermost start
};

}  // namespace qx::framework

#endif  // QX_FRAMEWORK_NATIVE_CONNECTION_H_
