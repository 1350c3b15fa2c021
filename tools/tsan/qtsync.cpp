// Tells ThreadSanitizer about the locking that Qt's own, uninstrumented
// library does for the project's code. QMutex locks through futexes and
// QWaitCondition::wait() unlocks and relocks its mutex inside Qt, where
// ThreadSanitizer cannot see it; without this it reports every field that
// the project guards with a QMutex as a race.
//
// tools/run-sanitizers.sh builds this as a shared library and preloads it
// into the ThreadSanitizer test run (Qt 5 only): its definitions take the
// place of Qt's for calls from the project, annotate them and forward to
// Qt's own.
#include <QDeadlineTimer>
#include <QMutex>
#include <QtGlobal>
#include <QWaitCondition>

#include <dlfcn.h>

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#error "Qt 5 only: Qt 6 locks QMutex inline, where these definitions would not apply"
#endif

// Weak, so that programs without ThreadSanitizer (ctest, cmake) that inherit
// the preload do nothing extra.
extern "C" {
void __tsan_acquire(void *addr) __attribute__((weak));
void __tsan_release(void *addr) __attribute__((weak));
}

namespace {

// Qt's definition of the symbol `name`, the one this library hides.
template<typename Function> Function qtFunction(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// The mutex is released before the wait and held again after it.
void beforeWait(QMutex *mutex)
{
    if (__tsan_release)
        __tsan_release(mutex);
}

void afterWait(QMutex *mutex)
{
    if (__tsan_acquire)
        __tsan_acquire(mutex);
}

} // namespace

bool QWaitCondition::wait(QMutex *lockedMutex, QDeadlineTimer deadline)
{
    using Wait = bool (*)(QWaitCondition *, QMutex *, QDeadlineTimer);
    static const auto real = qtFunction<Wait>("_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    beforeWait(lockedMutex);
    const bool woken = real(this, lockedMutex, deadline);
    afterWait(lockedMutex);
    return woken;
}

bool QWaitCondition::wait(QMutex *lockedMutex, unsigned long time)
{
    using Wait = bool (*)(QWaitCondition *, QMutex *, unsigned long);
    static const auto real = qtFunction<Wait>("_ZN14QWaitCondition4waitEP6QMutexm");
    beforeWait(lockedMutex);
    const bool woken = real(this, lockedMutex, time);
    afterWait(lockedMutex);
    return woken;
}

// Qt 5 locks and unlocks a QMutex out of line: acquire after taking it,
// release before giving it back.
void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    using Lock = void (*)(QMutex *);
    static const auto real = qtFunction<Lock>("_ZN6QMutex4lockEv");
    real(this);
    if (__tsan_acquire)
        __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    using TryLock = bool (*)(QMutex *, int);
    static const auto real = qtFunction<TryLock>("_ZN6QMutex7tryLockEi");
    const bool locked = real(this, timeout);
    if (locked && __tsan_acquire)
        __tsan_acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    using Unlock = void (*)(QMutex *);
    static const auto real = qtFunction<Unlock>("_ZN6QMutex6unlockEv");
    if (__tsan_release)
        __tsan_release(this);
    real(this);
}
