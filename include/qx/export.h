/* The one export macro of the project. Everything is built with hidden
   visibility; only what is marked QX_EXPORT leaves a shared library. */
#ifndef QX_EXPORT_H_
#define QX_EXPORT_H_

#if defined(_WIN32)
#if defined(QX_BUILDING_COMPONENT)
#define QX_EXPORT __declspec(dllexport)
#else
#define QX_EXPORT
#endif
#else
#define QX_EXPORT __attribute__((visibility("default")))
#endif

#endif /* QX_EXPORT_H_ */
