// POSIX implementation of the platform layer (pthreads, gettid, dlopen).
#include "common/platform.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "common/ashooks_access.h"

namespace platform {

static_assert(sizeof(pthread_mutex_t) <= sizeof(CriticalSection), "mutex fits the section storage");
static_assert(alignof(pthread_mutex_t) <= alignof(CriticalSection), "section storage alignment");

uint32_t CurrentThreadId() {
    static thread_local uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
    return id;
}

static pthread_mutex_t* MutexOf(CriticalSection* section) {
    return reinterpret_cast<pthread_mutex_t*>(section->opaque);
}

void InitSection(CriticalSection* section) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    new (section->opaque) pthread_mutex_t;
    pthread_mutex_init(MutexOf(section), &attr);
    pthread_mutexattr_destroy(&attr);
}

void EnterSection(CriticalSection* section) {
    pthread_mutex_lock(MutexOf(section));
}
void LeaveSection(CriticalSection* section) {
    pthread_mutex_unlock(MutexOf(section));
}
void DeleteSection(CriticalSection* section) {
    pthread_mutex_destroy(MutexOf(section));
}

namespace {
struct Event {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    bool signalled;
};
}  // namespace

EventHandle CreateAutoResetEvent(bool signalled) {
    void* block = ascommon::MemAlloc(sizeof(Event));
    if (block == nullptr) return nullptr;
    Event* event = new (block) Event;
    pthread_mutex_init(&event->mutex, nullptr);
    pthread_cond_init(&event->cond, nullptr);
    event->signalled = signalled;
    return event;
}

void SignalEvent(EventHandle handle) {
    if (handle == nullptr) return;
    Event* event = static_cast<Event*>(handle);
    pthread_mutex_lock(&event->mutex);
    event->signalled = true;
    pthread_cond_signal(&event->cond);
    pthread_mutex_unlock(&event->mutex);
}

void WaitEvent(EventHandle handle) {
    if (handle == nullptr) {
        sched_yield();
        return;
    }
    Event* event = static_cast<Event*>(handle);
    pthread_mutex_lock(&event->mutex);
    while (!event->signalled) pthread_cond_wait(&event->cond, &event->mutex);
    event->signalled = false;
    pthread_mutex_unlock(&event->mutex);
}

void CloseEvent(EventHandle handle) {
    if (handle == nullptr) return;
    Event* event = static_cast<Event*>(handle);
    pthread_cond_destroy(&event->cond);
    pthread_mutex_destroy(&event->mutex);
    ascommon::MemFree(event);
}

void* OpenLibrary(const char* path, bool keepMapped) {
    if (path == nullptr) return nullptr;
    return dlopen(path, RTLD_NOW | RTLD_LOCAL | (keepMapped ? RTLD_NODELETE : 0));
}

void* LibrarySymbol(void* library, const char* name) {
    return (library && name) ? dlsym(library, name) : nullptr;
}

void CloseLibrary(void* library) {
    if (library) dlclose(library);
}

void LibraryError(char* out, size_t size) {
    if (out == nullptr || size == 0) return;
    const char* text = dlerror();
    std::snprintf(out, size, "%s", text ? text : "");
}

}  // namespace platform
