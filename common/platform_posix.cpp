// POSIX implementation of the platform layer (pthreads, gettid, dlopen).
#include "common/platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/ashooks_access.h"
#include "glyphkit/utfconvert.h"

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

bool LibraryLoaded(const char* path) {
    if (path == nullptr) return false;
    void* library = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (library != nullptr) dlclose(library);
    return library != nullptr;
}

size_t ExecutablePath(char* out, size_t capacity) {
    if (out == nullptr || capacity == 0) return 0;
    const ssize_t length = readlink("/proc/self/exe", out, capacity);
    if (length <= 0 || static_cast<size_t>(length) >= capacity) return 0;
    out[length] = '\0';
    return static_cast<size_t>(length);
}

WideFormatArg WideForFormat(const char16_t*, const char* utf8) {
    return utf8 != nullptr ? utf8 : "";
}

namespace {

// The bytes of a UTF-8 text that a strict conversion to UTF-16 takes: all of them, or those
// before its first ill-formed sequence or a sequence cut by the end of the text.
size_t ConvertiblePrefix(const char* text, size_t length) {
    const uint8_t* source = reinterpret_cast<const uint8_t*>(text);
    const uint8_t* end = source + length;
    char16_t units[64];
    for (;;) {
        char16_t* target = units;
        const int result = ascommon::ConvertUTF8toUTF16(&source, end, &target, units + 64,
                                                        ascommon::kStrictConversion);
        if (result != ascommon::kTargetExhausted) break;
    }
    return static_cast<size_t>(source - reinterpret_cast<const uint8_t*>(text));
}

// A UTF-8 path as the file calls take it: the text itself when it converts whole, else a copy cut
// at the first sequence the conversion refuses. get() is null for a null text, or when the copy
// cannot be had (errno ENOMEM).
class NativePath {
  public:
    explicit NativePath(const char* text) : m_path(text), m_copy(nullptr) {
        if (text == nullptr) return;
        const size_t length = std::strlen(text);
        const size_t kept = ConvertiblePrefix(text, length);
        if (kept == length) return;
        m_copy = static_cast<char*>(ascommon::MemAlloc(kept + 1));
        if (m_copy == nullptr) {
            m_path = nullptr;
            errno = ENOMEM;
            return;
        }
        std::memcpy(m_copy, text, kept);
        m_copy[kept] = '\0';
        m_path = m_copy;
    }
    ~NativePath() {
        if (m_copy != nullptr) ascommon::MemFree(m_copy);
    }
    NativePath(const NativePath&) = delete;
    NativePath& operator=(const NativePath&) = delete;

    const char* get() const { return m_path; }

  private:
    const char* m_path;
    char* m_copy;
};

// The next number to try for a temporary name: distinct for every call in this process, and
// starting from a point that differs between processes; O_EXCL settles any remaining clash.
uint32_t NextTempNumber() {
    static std::atomic<uint32_t> next([] {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        return static_cast<uint32_t>(getpid()) * 0x9E3779B1u ^ static_cast<uint32_t>(now.tv_nsec);
    }());
    return next.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

std::FILE* OpenFileUtf8(const char* path, const char* mode) {
    if (path == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    const NativePath nativePath(path);
    const NativePath nativeMode(mode);
    if (nativePath.get() == nullptr || nativeMode.get() == nullptr) return nullptr;
    return std::fopen(nativePath.get(), nativeMode.get());
}

bool StatFileUtf8(const char* path, uint64_t* size, bool* isDirectory) {
    if (path == nullptr) return false;
    const NativePath nativePath(path);
    struct stat status;
    if (nativePath.get() == nullptr || stat(nativePath.get(), &status) != 0) return false;
    const bool directory = S_ISDIR(status.st_mode);
    if (size != nullptr) *size = directory ? 0 : static_cast<uint64_t>(status.st_size);
    if (isDirectory != nullptr) *isDirectory = directory;
    return true;
}

std::FILE* OpenRegularFileUtf8(const char* path, bool* notRegular) {
    *notRegular = false;
    if (path == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    // The name's bytes as they are: a host opens whatever the system listed or the user named.
    // O_NONBLOCK: opening a FIFO without a writer returns at once instead of waiting.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat status;
    const bool known = fstat(fd, &status) == 0;
    if (!known || !S_ISREG(status.st_mode)) {
        const int error = errno;
        *notRegular = known;
        close(fd);
        errno = error;
        return nullptr;
    }
    std::FILE* file = nullptr;
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0) file = fdopen(fd, "rb");
    if (file == nullptr) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return file;
}

bool RemoveFileUtf8(const char* path) {
    if (path == nullptr) return false;
    const NativePath nativePath(path);
    return nativePath.get() != nullptr && unlink(nativePath.get()) == 0;
}

bool CreateUniqueFileUtf8(const char* folder, const char* prefix, char* name, size_t capacity,
                          size_t* length) {
    if (folder == nullptr || prefix == nullptr || name == nullptr || length == nullptr) {
        return false;
    }
    const NativePath nativeFolder(folder);
    const NativePath nativePrefix(prefix);
    if (nativeFolder.get() == nullptr || nativePrefix.get() == nullptr) return false;
    constexpr int kAttempts = 1 << 16;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        char path[PATH_MAX];
        const int written =
            std::snprintf(path, sizeof path, "%s%c%s%08X%s", nativeFolder.get(), kPathSeparator,
                          nativePrefix.get(), NextTempNumber(), kTempFileSuffix);
        if (written < 0 || static_cast<size_t>(written) >= sizeof path ||
            static_cast<size_t>(written) > capacity) {
            errno = ENAMETOOLONG;
            return false;
        }
        const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        close(fd);
        std::memcpy(name, path, static_cast<size_t>(written));
        *length = static_cast<size_t>(written);
        return true;
    }
    errno = EEXIST;
    return false;
}

}  // namespace platform
