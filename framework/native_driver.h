// CNativeDriver: the framework's driver object, base of every native
// driver of the host platform.
//
// It implements the driver table's base behaviour: reference counting, the
// error context, the three registries (connections, table handles, queries)
// with their one-entry caches, and the common pattern of the public
// operations. A driver derives from it and supplies the factories and the
// operations that touch files.
//
// Common pattern of an operation that works on the registries:
//   1. enter the driver registry lock (framework_state.h); without one (the
//      library is stopped) answer the failure result;
//   2. reset the error context;
//   3. resolve the connection: its name is the host description's `name`;
//      look it up (cache, then map); absent, create it with
//      CreateConnection and register it; the lookup adds one reference;
//   4. open it where the operation needs it open;
//   5. do the work;
//   6. release the lookup's reference and leave the lock.
// Every operation runs inside the shared guard (guard.h): no exception
// leaves it and the lock is released on every path.
//
// Reference accounting of a registered connection (invariant C1): its
// count = 1 (the registry) + open_refs (one per OpenConnection not yet
// closed) + the lookups in progress. When a release brings it to 1 and
// CloseConnection has marked it closed, it is closed, leaves the registry
// and is destroyed.
//
// Lock order: the registry lock is the only lock of the driver; it is
// recursive, so an operation may call another under it.
#ifndef QX_FRAMEWORK_NATIVE_DRIVER_H_
#define QX_FRAMEWORK_NATIVE_DRIVER_H_

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "framework/error_sink.h"
#include "framework/framework_state.h"
#include "framework/guard.h"
#include "framework/names.h"
#include "framework/ref_counted.h"
#include "qx/driver.h"

namespace qx::framework {

// Captions of the framework's diagnostic dumps, loaded from the message
// store at construction (ids kFirstCaptionId + n) with these defaults.
enum Caption : int {
  kCaptionQueryText = 0,   // "Texte de la requête"
  kCaptionHostType = 1,    // "Type Z-Langage"
  kCaptionValue = 2,       // "Valeur"
  kCaptionDataSource = 3,  // "DataSource : "
  kCaptionLockMode = 4,    // "Lock mode : "
  kCaptionCount = 5,
};
constexpr uint32_t kFirstCaptionId = 29040;

// Flag value of OpenTable: keep a handle whose open failed.
constexpr uint32_t kOpenKeepHandle = 16;

class CNativeDriver : public RefCounted<IDriver> {
 public:
  CNativeDriver();
  CNativeDriver(const CNativeDriver&) = delete;
  CNativeDriver& operator=(const CNativeDriver&) = delete;

  // Base operations in slot order (driver.h).
  uint32_t GetDriverKind() override { return 18; }
  uint32_t GetDriverSubKind() override { return 17; }
  uint32_t GetCapabilities() override { return 0xFFFFFFFF; }
  uint32_t GetCapabilitiesEx() override { return 0xFFFFFFFF; }
  void Idle() override {}
  int32_t ResetErrors() override;
  int32_t OpenConnection(const ConnectionDesc* cnx) override;
  int32_t CloseConnection(const ConnectionDesc* cnx) override;
  int32_t FrameworkFlag1() override { return 0; }
  IErrorContext* GetErrorContext() override { return errors_; }
  int32_t ForEachTableHandle(uintptr_t first, uintptr_t second) override;
  ITableHandle* GetTable(const ConnectionDesc* cnx,
                         const FileDesc* file) override;
  int32_t GetConnectionProperty(const ConnectionDesc* cnx, HostValue* value,
                                uint32_t options) override;
  int32_t OpenTableEx(const ConnectionDesc* cnx, const FileDesc* file,
                      uint32_t flags) override;
  int32_t ReleaseQuery(const Query* query) override;
  int32_t StartTransaction(const ConnectionDesc* cnx,
                           const char16_t* name) override;
  int32_t EndTransaction(const ConnectionDesc* cnx) override;
  int32_t EndTransactionEx(const ConnectionDesc* cnx) override;
  int32_t ConnectionQuery(const ConnectionDesc* cnx) override;
  int32_t ConnectionQueryEx(const ConnectionDesc* cnx) override;
  int32_t FrameworkFlag2() override { return 0; }
  int32_t ConnectionAction(const ConnectionDesc* cnx, uintptr_t first,
                           uintptr_t second) override;
  int32_t Unsupported() override;
  int32_t TableFileExists(const ConnectionDesc* cnx,
                          const FileDesc* file) override;
  int32_t PrepareTable(const ConnectionDesc* cnx,
                       const FileDesc* file) override;
  int32_t GetNullValue(HostValue* value) override;
  int32_t FrameworkFlag3() override { return 1; }
  int32_t SetHostValues(uintptr_t first, uintptr_t second) override;
  int32_t UnsupportedEx() override;
  int32_t NameQuery(const Query* query, const char16_t* name) override;
  int32_t OpenTable(const ConnectionDesc* cnx, const FileDesc* file,
                    uint32_t flags, ITableHandle** handle) override;
  int32_t CloseTable(const ConnectionDesc* cnx, const char16_t* table) override;
  int32_t FrameworkFlag4() override { return 1; }
  int32_t SetHostValue(uintptr_t value) override;
  int32_t TableCommand(const ConnectionDesc* cnx, const char16_t* table,
                       uintptr_t argument) override;
  int32_t UnsupportedOnConnection(const ConnectionDesc* cnx) override;
  void Destroy() override;
  int32_t FrameworkFlag5() override { return 1; }
  uint32_t FormatConnectionString(const ConnectionDesc* cnx, char16_t* buffer,
                                  uint32_t capacity) override;
  int32_t FrameworkFlag6() override { return 0; }
  IFrameworkObject* CreateBaseObjectA() override;
  int32_t FrameworkFlag7() override { return 0; }
  IFrameworkObject* CreateBaseObjectB() override;
  IItemValue* CreateItemValue(uint8_t item_type) override;
  IFrameworkObject* CreateStatementBuilder() override;
  IErrorContext* CreateErrorContext() override;
  IFrameworkObject* CreateBaseObjectC() override;
  IFrameworkObject* CreateBaseObjectD() override;
  void ForEachTableHandleEx(uintptr_t first, uintptr_t second) override;
  IItem* CreateItem() override;
  void Idle2() override {}
  int32_t FrameworkFlag8() override { return 0; }
  void Idle3() override {}

  // Releases the error context held, if any, and takes a new one made by
  // CreateErrorContext with one reference (piQueryInterface does this).
  void RenewErrorContext();

  // Finds the table handle of `table` (no creation), sets its forget mark
  // and drops the lookup's reference. 1, also when there is none.
  int32_t ForgetTableHandle(const ConnectionDesc* cnx, const char16_t* table);

  // Resolves and opens the connection of cnx; the connection comes with
  // one reference (release it with ReleaseConnection), null when it cannot
  // be made or opened. Runs under the caller's lock.
  IConnection* AcquireOpenConnection(const ConnectionDesc* cnx);
  void ReleaseConnection(IConnection* connection);

  const std::u16string& caption(Caption which) const {
    return captions_[which];
  }
  uintptr_t host_value(int index) const { return host_values_[index]; }
  size_t connection_count() const { return connections_.size(); }
  size_t table_handle_count() const { return handles_.size(); }
  size_t query_count() const { return queries_.size(); }
  CNativeErrorSink* errors() const { return errors_; }

 protected:
  virtual ~CNativeDriver();

  // The driver's error context (CreateErrorContext's object). Made with a
  // count of 0, like every factory's object.
  virtual CNativeErrorSink* NewErrorSink() = 0;

  // Empties the registries and releases the error context: the base part
  // of destruction. Safe to call twice.
  void ReleaseAll();

  // Runs fn under the registry lock inside the guard; `failure` when the
  // library is stopped or fn throws.
  template <typename R, typename Fn>
  R Locked(R failure, Fn&& fn);
  // Runs fn inside the guard only.
  template <typename R, typename Fn>
  R Guard(R failure, Fn&& fn);

  // Error reporting into the held context (nothing when there is none).
  void Reset(const char16_t* operation);
  void RaiseFramework(uint32_t id,
                      std::initializer_list<platform::MessageArg> args,
                      uint32_t level = 0);
  // A factory answered null: reports an allocation failure unless the
  // factory reported its own error.
  void ReportFactoryFailure();

  // Step 3 of the common pattern: the connection of cnx with one reference
  // added, created and registered when new; null when it cannot be made.
  IConnection* ResolveConnection(const ConnectionDesc* cnx);
  // The registered connection of cnx with one reference, or null after
  // raising "La connexion <name> n'est pas une connexion valide.".
  IConnection* FindConnection(const ConnectionDesc* cnx);

  // The registered table handle of `name` with one reference, or null.
  ITableHandle* FindTableHandle(std::u16string_view name);

 private:
  struct ConnectionEntry {
    IConnection* connection = nullptr;  // one reference held (C1)
    uint32_t open_refs = 0;             // OpenConnection calls not yet closed
    bool marked_closed = false;         // set by CloseConnection
  };
  struct HandleEntry {
    ITableHandle* handle = nullptr;  // one reference held
    std::u16string connection;       // name of its connection
  };
  using ConnectionMap = std::map<std::u16string, ConnectionEntry, NameLess>;
  using HandleMap = std::map<std::u16string, HandleEntry, NameLess>;

  ConnectionMap::iterator LookupConnection(std::u16string_view name);
  HandleMap::iterator LookupHandle(std::u16string_view name);
  void EraseConnection(ConnectionMap::iterator it);
  void EraseHandle(HandleMap::iterator it);
  int32_t EndTransactionWay(const ConnectionDesc* cnx, int32_t way);
  int32_t AskConnection(const ConnectionDesc* cnx, int32_t question);

  CNativeErrorSink* errors_ = nullptr;  // one reference held

  // Registries, guarded by the registry lock. Map nodes do not move, so
  // the caches point into them; erasing an entry clears its cache.
  ConnectionMap connections_;
  ConnectionEntry* connection_cache_ = nullptr;
  std::u16string connection_cache_name_;
  HandleMap handles_;
  HandleEntry* handle_cache_ = nullptr;
  std::u16string handle_cache_name_;
  std::map<uint64_t, ICursor*> queries_;  // one reference held each

  std::array<std::u16string, kCaptionCount> captions_;
  // SetHostValues (0, 1) and SetHostValue (2), kept for the framework.
  std::array<uintptr_t, 3> host_values_ = {};
};

template <typename R, typename Fn>
R CNativeDriver::Guard(R failure, Fn&& fn) {
  return Guarded(failure, std::forward<Fn>(fn), [this](bool out_of_memory) {
    if (out_of_memory && errors_ != nullptr) errors_->MarkOutOfMemory();
  });
}

template <typename R, typename Fn>
R CNativeDriver::Locked(R failure, Fn&& fn) {
  platform::CriticalSection* lock = RegistryLock();
  if (lock == nullptr) return failure;
  platform::CriticalSectionLock hold(*lock);
  return Guard(failure, std::forward<Fn>(fn));
}

}  // namespace qx::framework

#endif  // QX_FRAMEWORK_NATIVE_DRIVER_H_
