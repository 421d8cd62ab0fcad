// Happens-before edges that ThreadSanitizer cannot see because they pass through Qt, which is not
// built with it (its mutexes and event queue use futexes directly).
#pragma once

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#define QUINTARO_TSAN_ACQUIRE(addr) \
    __tsan_acquire(const_cast<void*>(static_cast<const void*>(addr)))
#define QUINTARO_TSAN_RELEASE(addr) \
    __tsan_release(const_cast<void*>(static_cast<const void*>(addr)))
#else
#define QUINTARO_TSAN_ACQUIRE(addr) ((void)0)
#define QUINTARO_TSAN_RELEASE(addr) ((void)0)
#endif
