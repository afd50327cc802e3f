// The one guard every C export and every driver slot runs its body in.
//
// Nothing may cross the host boundary as an exception: the host is not
// C++-aware at that point and would terminate. Guarded runs the body and
// turns std::bad_alloc and any other exception into the operation's
// failure result, telling the caller's handler which kind it was so that it
// can mark its error context out of memory.
#ifndef QX_FRAMEWORK_GUARD_H_
#define QX_FRAMEWORK_GUARD_H_

#include <new>
#include <type_traits>
#include <utility>

namespace qx::framework {

// Runs fn() and answers its result, or `failure` when fn throws; then
// on_exception(out_of_memory) is called, inside the guard as well.
template <typename R, typename Fn, typename OnException>
R Guarded(R failure, Fn&& fn, OnException&& on_exception) noexcept {
  bool out_of_memory = false;
  try {
    return std::forward<Fn>(fn)();
  } catch (const std::bad_alloc&) {
    out_of_memory = true;
  } catch (...) {
  }
  try {
    on_exception(out_of_memory);
  } catch (...) {
  }
  return failure;
}

template <typename R, typename Fn>
R Guarded(R failure, Fn&& fn) noexcept {
  return Guarded(failure, std::forward<Fn>(fn), [](bool) {});
}

// For bodies without a result.
template <typename Fn, typename OnException>
void GuardedVoid(Fn&& fn, OnException&& on_exception) noexcept {
  Guarded(
      0,
      [&] {
        std::forward<Fn>(fn)();
        return 0;
      },
      std::forward<OnException>(on_exception));
}

template <typename Fn>
void GuardedVoid(Fn&& fn) noexcept {
  GuardedVoid(std::forward<Fn>(fn), [](bool) {});
}

}  // namespace qx::framework

#endif  // QX_FRAMEWORK_GUARD_H_
