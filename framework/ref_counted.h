// Reference counting of the objects handed to the host.
//
// RefCounted<I> implements I's AddRef and Release slots: the count starts
// at 0 (the maker adds the first reference), AddRef and Release answer the
// new count, and the last Release calls the object's Destroy slot. The
// slots keep the places I gives them; only their bodies come from here.
#ifndef QX_FRAMEWORK_REF_COUNTED_H_
#define QX_FRAMEWORK_REF_COUNTED_H_

#include <atomic>
#include <cstdint>

namespace qx::framework {

template <typename Interface>
class RefCounted : public Interface {
 public:
  uint32_t AddRef() override { return ++references_; }
  uint32_t Release() override {
    const uint32_t left = --references_;
    if (left == 0) this->Destroy();
    return left;
  }
  uint32_t references() const { return references_; }

 protected:
  RefCounted() = default;
  ~RefCounted() = default;

 private:
  std::atomic<uint32_t> references_{0};
};

}  // namespace qx::framework

#endif  // QX_FRAMEWORK_REF_COUNTED_H_
