// Happens-before hints for ThreadSanitizer.
//
// Events synchronise threads through the kernel (eventfd), which the
// sanitizer cannot see; these calls tell it what the kernel guarantees:
// whatever a thread did before signalling is visible to the thread that
// consumes the signal. They compile to nothing in other builds.
#pragma once

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KORVA_TSAN 1
#endif
#endif
#if !defined(KORVA_TSAN) && defined(__SANITIZE_THREAD__)
#define KORVA_TSAN 1
#endif

#ifdef KORVA_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace platform {

inline void HappensBefore(const void* addr) {
#ifdef KORVA_TSAN
    __tsan_release(const_cast<void*>(addr));
#else
    (void)addr;
#endif
}

inline void HappensAfter(const void* addr) {
#ifdef KORVA_TSAN
    __tsan_acquire(const_cast<void*>(addr));
#else
    (void)addr;
#endif
}

}  // namespace platform
