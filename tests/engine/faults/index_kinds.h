// The five index kinds behind one interface for the fault tests: create,
// build over a data file, open, key add and delete, a walk in key order,
// and the engine's structural check. Character keys of kKeyLength bytes
// over the field K of the data file.
#ifndef QX_TESTS_ENGINE_FAULTS_INDEX_KINDS_H_
#define QX_TESTS_ENGINE_FAULTS_INDEX_KINDS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qx::engine::faults_test {

// 100 bytes: a handful of keys per page in every kind, so a few adds split
// and a few deletes merge.
inline constexpr uint16_t kKeyLength = 100;

using Entry = std::pair<std::string, uint32_t>;

class IndexKind {
 public:
  // open_mode: the mode word of Open (0, or kKbdModeShared); the opens
  // inside Create and Build are exclusive.
  explicit IndexKind(uint16_t open_mode) : open_mode_(open_mode) {}
  virtual ~IndexKind() = default;
  virtual const char* name() const = 0;
  virtual std::string file() const = 0;
  // An empty index (closed).
  virtual int16_t Create(const std::string& path) = 0;
  // The index built over every record of the open data file (closed).
  virtual int16_t Build(int16_t dbf, const std::string& path) = 0;
  virtual int16_t Open(const std::string& path) = 0;
  virtual int16_t Close() = 0;
  virtual int16_t Add(const std::string& key, uint32_t recno) = 0;
  virtual int16_t Delete(const std::string& key, uint32_t recno) = 0;
  // Every entry in key order; negative status when the walk fails.
  virtual int16_t Walk(std::vector<Entry>* entries) = 0;
  // The engine's check of the open index: *problems its problem count.
  virtual int16_t Check(uint32_t* problems) = 0;

 protected:
  const uint16_t open_mode_;
};

std::unique_ptr<IndexKind> MakeIndexKind(const std::string& name,
                                         uint16_t open_mode = 0);

}  // namespace qx::engine::faults_test

#endif  // QX_TESTS_ENGINE_FAULTS_INDEX_KINDS_H_
