// Symbol export macros of the Kestrel libraries, and the marker of code that also runs on the GPU.
// The libraries build with hidden visibility; every class or function that
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
#if defined(KESTREL_CUDA_BUILD)
#define KESTREL_CUDA_API __declspec(dllexport)
#else
#define KESTREL_CUDA_API __declspec(dllimport)
#endif
#if defined(KESTREL_IO_BUILD)
#define KESTREL_IO_API __declspec(dllexport)
#else
#define KESTREL_IO_API __declspec(dllimport)
#endif
#else
#define KESTREL_STANDARD_API __attribute__((visibility("default")))
#define KESTREL_SCENE_API __attribute__((visibility("default")))
#define KESTREL_CUDA_API __attribute__((visibility("default")))
#define KESTREL_IO_API __attribute__((visibility("default")))
#endif

// Inline code that KestrelCUDA's device back end compiles for the GPU as well (the cell walk, the
// cell cubic, the shading formulas); plain inline code everywhere else.
#if defined(__CUDACC__)
#define KESTREL_HOST_DEVICE __host__ __device__
#else
#define KESTREL_HOST_DEVICE
#endif

// Small helpers of the kernels' per-sample loops, inlined whatever the compiler's size heuristics
// decide: there a call costs about as much as the work it does.
#if defined(__CUDACC__)
#define KESTREL_ALWAYS_INLINE __forceinline__
#elif defined(__GNUC__)
#define KESTREL_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define KESTREL_ALWAYS_INLINE inline
#endif

// The rare branch of such a helper (a cache refill, a clamped edge case), kept out of line so that
// the common branch inlines small. Left to the compiler on the device.
#if defined(__GNUC__) && !defined(__CUDACC__)
#define KESTREL_OUT_OF_LINE inline __attribute__((noinline))
#else
#define KESTREL_OUT_OF_LINE inline
#endif

#endif  // KESTREL_EXPORT_H
