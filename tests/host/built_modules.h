// Paths of the modules the build made, for tests that load them.
#ifndef QX_TESTS_HOST_BUILT_MODULES_H_
#define QX_TESTS_HOST_BUILT_MODULES_H_

namespace qx::testing {

extern const char kComponentPath[];  // libqx180db64.so
extern const char kVmPath[];         // libqxvm.so

}  // namespace qx::testing

#endif  // QX_TESTS_HOST_BUILT_MODULES_H_
