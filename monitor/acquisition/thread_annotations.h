// Clang's thread-safety attributes, and the annotated lock that the live
// state uses.  With clang and -Wthread-safety the compiler rejects a read or
// write of a GUARDED_BY member without its lock, and a call of a REQUIRES
// function from a place that does not hold it.  Other compilers see nothing.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define KX305_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KX305_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x)             KX305_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY         KX305_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x)             KX305_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x)          KX305_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...)             KX305_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...)              KX305_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...)              KX305_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...)          KX305_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...)             KX305_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x)      KX305_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x)      KX305_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS KX305_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace kx305mon {

// A std::mutex that the analysis knows as a capability.
class CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

    // Tells the analysis that the caller holds this lock where it cannot see
    // it: in a condition's predicate, which runs under the waiting lock.
    void AssertHeld() const ASSERT_CAPABILITY(this) {}

private:
    friend class MutexLock;
    std::mutex mutex_;
};

// Holds a Mutex for its scope.  A condition variable waits on it (the wait
// lets go of the lock and has it again when it returns, which the analysis
// treats as held throughout; a predicate says so with AssertHeld).
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
    ~MutexLock() RELEASE() {}
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    // For std::condition_variable's waits.
    std::unique_lock<std::mutex>& native() { return lock_; }

private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace kx305mon
