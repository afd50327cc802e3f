/* The one export macro of the project. Everything is built with hidden
   visibility; only what is marked QX_EXPORT leaves a shared library
   (QX_BUILDING_COMPONENT: the component; QX_BUILDING_MODULE: another
   module of ours, the reference host's VM).

   Calling convention: the exports are plain C functions in the platform's
   one x64 convention (the Microsoft x64 convention on Windows, the System V
   AMD64 convention on Linux); x64 has no stdcall/cdecl choice, so no
   convention keyword appears in the declarations. The public headers hold
   only standard C++ with fixed-width integers and plain pointers, so the
   records have the same sizes and offsets on both builds (asserted in
   host_types.h and exports.h). */
#ifndef QX_EXPORT_H_
#define QX_EXPORT_H_

#if defined(_WIN32)
#if defined(QX_BUILDING_COMPONENT) || defined(QX_BUILDING_MODULE)
#define QX_EXPORT __declspec(dllexport)
#else
#define QX_EXPORT
#endif
#else
#define QX_EXPORT __attribute__((visibility("default")))
#endif

#endif /* QX_EXPORT_H_ */
