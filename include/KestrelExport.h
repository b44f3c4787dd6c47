// Symbol export macros of the two Kestrel libraries.
// Both libraries build with hidden visibility; every class or function that
// another library, an application or a host calls carries its library's macro.
#ifndef KESTREL_EXPORT_H
#define KESTREL_EXPORT_H

#if defined(_WIN32)
#if defined(KESTREL_STANDARD_BUILD)
#define KESTREL_STANDARD_API __declspec(dllexport)
#else
#define KESTREL_STANDARD_API __declspec(dllimport)
#endif
#if defined(KESTREL_SCENE_BUILD)
#define KESTREL_SCENE_API __declspec(dllexport)
#else
#define KESTREL_SCENE_API __declspec(dllimport)
#endif
#else
#define KESTREL_STANDARD_API __attribute__((visibility("default")))
#define KESTREL_SCENE_API __attribute__((visibility("default")))
#endif

#endif  // KESTREL_EXPORT_H
