// The compiler runtime's thread support, linked into the DLL in place of the statically linked
// runtime's own, so that nothing it keeps outlives a thread or an unload.
//
// The DLL is built with the win32 thread model (cmake/mingw-w64.cmake), so no POSIX thread
// layer is linked in. The runtime's own thread-local storage would still take a TLS slot per
// load (libgcc's emulated TLS key, never freed) and keep each thread's variables until that
// thread ends, which for a thread alive at the unload is never; its static-local guards take
// a semaphore per load.
//
// Here thread-local variables live in a Win32 TLS slot, freed at thread detach and, for every
// thread, at unload; static-local initialisation uses a slim lock and a condition variable,
// and the runtime's mutexes (the win32 model's __gthr_win32_* functions) are slim locks too:
// none holds a kernel object. The runtime's own mutexes made a semaphore each, and the 32-bit
// unwinder's frame-registry mutex, made at every load and never destroyed, left one semaphore
// per load in the host. At unload the runtime's emergency exception pool is freed too.
//
// Thread detach reaches this module through its TLS callback (.CRT$XLY below), not DllMain:
// the loader calls the callbacks of every module with a TLS directory at each thread's exit,
// and DisableThreadLibraryCalls cannot turn that off (it fails for a module with a TLS
// directory, which the static runtime gives this one).
#include <cxxabi.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/Platform.h"

namespace __gnu_cxx {
void __freeres() noexcept;  // libstdc++: frees the emergency exception pool
}

namespace {

// GCC's emulated-TLS control block for one thread-local variable.
struct EmutlsObject {
    uintptr_t size;
    uintptr_t align;
    union {
        uintptr_t offset;  // 1-based index into each thread's array; 0 until first use
        void* ptr;
    } loc;
    void* templ;  // initial bytes, or null for zero
};

// One thread's variables, linked so that an unload can free every thread's.
struct ThreadVariables {
    ThreadVariables* previous;
    ThreadVariables* next;
    uintptr_t size;
    void* data[1];
};

SRWLOCK tlsLock = SRWLOCK_INIT;
ThreadVariables* allThreads = nullptr;
uintptr_t variableCount = 0;
DWORD tlsSlot = TLS_OUT_OF_INDEXES;

void* AllocateVariable(const EmutlsObject* object) {
    const uintptr_t align = object->align > sizeof(void*) ? object->align : sizeof(void*);
    auto* raw = static_cast<char*>(std::malloc(object->size + align + sizeof(void*)));
    if (!raw) std::abort();  // as the runtime's own: there is no way to report it
    auto address = (reinterpret_cast<uintptr_t>(raw) + sizeof(void*) + align - 1) & ~(align - 1);
    auto* variable = reinterpret_cast<void*>(address);
    static_cast<void**>(variable)[-1] = raw;
    if (object->templ)
        std::memcpy(variable, object->templ, object->size);
    else
        std::memset(variable, 0, object->size);
    return variable;
}

void FreeVariables(ThreadVariables* vars) {
    for (uintptr_t i = 0; i < vars->size; ++i)
        if (vars->data[i]) std::free(static_cast<void**>(vars->data[i])[-1]);
    std::free(vars);
}

void Unlink(ThreadVariables* vars) {
    if (vars->previous)
        vars->previous->next = vars->next;
    else
        allThreads = vars->next;
    if (vars->next) vars->next->previous = vars->previous;
}

// Grows (or makes) the calling thread's array to hold index `offset`; under no lock but the
// list's, since only this thread touches its own array's slots.
ThreadVariables* Grow(ThreadVariables* vars, uintptr_t offset) {
    const uintptr_t size = offset + 16;
    auto* grown = static_cast<ThreadVariables*>(std::calloc(1, sizeof(ThreadVariables) + size * sizeof(void*)));
    if (!grown) std::abort();
    AcquireSRWLockExclusive(&tlsLock);
    if (tlsSlot == TLS_OUT_OF_INDEXES && (tlsSlot = TlsAlloc()) == TLS_OUT_OF_INDEXES) std::abort();
    if (vars) {
        std::memcpy(grown->data, vars->data, vars->size * sizeof(void*));
        Unlink(vars);
        std::free(vars);
    }
    grown->size = size;
    grown->next = allThreads;
    if (allThreads) allThreads->previous = grown;
    allThreads = grown;
    TlsSetValue(tlsSlot, grown);
    ReleaseSRWLockExclusive(&tlsLock);
    return grown;
}

// The thread-detach callback. The module keeps getting thread notifications: a DLL with static
// TLS cannot turn them off (DisableThreadLibraryCalls fails for it).
void NTAPI ThreadDetach(PVOID, DWORD reason, PVOID) {
    if (reason != DLL_THREAD_DETACH) return;
    AcquireSRWLockExclusive(&tlsLock);
    if (tlsSlot != TLS_OUT_OF_INDEXES) {
        if (auto* vars = static_cast<ThreadVariables*>(TlsGetValue(tlsSlot))) {
            Unlink(vars);
            FreeVariables(vars);
            TlsSetValue(tlsSlot, nullptr);
        }
    }
    ReleaseSRWLockExclusive(&tlsLock);
}

// Runs this module's thread-detach callbacks for the calling thread now, as the loader would at
// its exit: the runtime's thread layer then closes the record it made for this thread. For the
// thread that loaded the module (static initialisation made it one) and the one that unloads
// it, that exit comes when the module may be gone.
void DetachCallingThread() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&DetachCallingThread), &module))
        return;
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS];
    if (!entry.VirtualAddress) return;
    auto* tls = reinterpret_cast<IMAGE_TLS_DIRECTORY*>(base + entry.VirtualAddress);
    auto* callbacks = reinterpret_cast<PIMAGE_TLS_CALLBACK*>(tls->AddressOfCallBacks);
    for (; callbacks && *callbacks; ++callbacks) (*callbacks)(base, DLL_THREAD_DETACH, nullptr);
}

// Semaphores the statically linked runtime makes with CreateSemaphoreW inlined into its own
// code, where no replacement function can reach: the 32-bit unwinder's frame-registry mutex
// (libgcc's unwind-dw2-fde, made when the module registers its unwind tables at load and
// never destroyed). The module's calls of CreateSemaphoreW and CloseHandle go through the
// import pointers defined below, so the semaphores still open at unload are known and closed.
// Nothing but the runtime makes semaphores in this module.
using CreateSemaphoreFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR);
using CloseHandleFunction = BOOL(WINAPI*)(HANDLE);
SRWLOCK semaphoreLock = SRWLOCK_INIT;
constexpr int kTrackedSemaphores = 16;
HANDLE runtimeSemaphores[kTrackedSemaphores] = {};

template <typename F>
F Kernel32(const char* name) {
    return reinterpret_cast<F>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name));
}

HANDLE WINAPI TrackedCreateSemaphoreW(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum, LPCWSTR name) {
    HANDLE semaphore = Kernel32<CreateSemaphoreFunction>("CreateSemaphoreW")(attributes, initial, maximum, name);
    if (!semaphore) return semaphore;
    AcquireSRWLockExclusive(&semaphoreLock);
    for (HANDLE& slot : runtimeSemaphores)
        if (!slot) {
            slot = semaphore;
            break;
        }
    ReleaseSRWLockExclusive(&semaphoreLock);
    return semaphore;
}

BOOL WINAPI TrackedCloseHandle(HANDLE handle) {
    AcquireSRWLockExclusive(&semaphoreLock);
    for (HANDLE& slot : runtimeSemaphores)
        if (slot == handle) slot = nullptr;
    ReleaseSRWLockExclusive(&semaphoreLock);
    return Kernel32<CloseHandleFunction>("CloseHandle")(handle);
}

// At unload no thread runs module code, and the frame-registry mutex is taken uncontended
// (if at all) afterwards, which touches no semaphore.
void CloseRuntimeSemaphores() {
    AcquireSRWLockExclusive(&semaphoreLock);
    HANDLE open[kTrackedSemaphores];
    std::memcpy(open, runtimeSemaphores, sizeof open);
    std::memset(runtimeSemaphores, 0, sizeof runtimeSemaphores);
    ReleaseSRWLockExclusive(&semaphoreLock);
    for (HANDLE semaphore : open)
        if (semaphore) Kernel32<CloseHandleFunction>("CloseHandle")(semaphore);
}

// Destroyed after every other static object of the module (it is constructed first), so no
// destructor can touch a thread-local variable after its memory went back.
struct UnloadRelease {
    ~UnloadRelease() {
        // At process exit other threads were killed, possibly inside the heap: free nothing.
        using ShutdownInProgress = BOOLEAN(NTAPI*)();
        auto inProgress = reinterpret_cast<ShutdownInProgress>(
            GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlDllShutdownInProgress"));
        if (!inProgress || inProgress()) return;
        DetachCallingThread();
        AcquireSRWLockExclusive(&tlsLock);
        while (ThreadVariables* vars = allThreads) {
            Unlink(vars);
            FreeVariables(vars);
        }
        if (tlsSlot != TLS_OUT_OF_INDEXES) TlsFree(tlsSlot);
        tlsSlot = TLS_OUT_OF_INDEXES;
        ReleaseSRWLockExclusive(&tlsLock);
        CloseRuntimeSemaphores();
        __gnu_cxx::__freeres();
    }
};
__attribute__((init_priority(101))) UnloadRelease unloadRelease;

// Static-local initialisation: one lock and one condition for all guards; byte 0 of a guard is
// "done", byte 1 "in progress", bytes 4 to 7 the id of the initialising thread.
SRWLOCK guardLock = SRWLOCK_INIT;
CONDITION_VARIABLE guardDone = CONDITION_VARIABLE_INIT;

}  // namespace

void ThreadRuntimeAttached() { DetachCallingThread(); }

extern "C" {

// The import pointers of the two functions (see TrackedCreateSemaphoreW), named as the import
// library names them, so that every call in the module, the runtime's included, comes here.
#if defined(__i386__)
#define THREAD_RUNTIME_IMPORT(name, bytes) "__imp__" #name "@" #bytes
#else
#define THREAD_RUNTIME_IMPORT(name, bytes) "__imp_" #name
#endif
extern CreateSemaphoreFunction importCreateSemaphoreW __asm__(THREAD_RUNTIME_IMPORT(CreateSemaphoreW, 16));
CreateSemaphoreFunction importCreateSemaphoreW = &TrackedCreateSemaphoreW;
extern CloseHandleFunction importCloseHandle __asm__(THREAD_RUNTIME_IMPORT(CloseHandle, 4));
CloseHandleFunction importCloseHandle = &TrackedCloseHandle;

extern const PIMAGE_TLS_CALLBACK threadRuntimeDetach;
__attribute__((section(".CRT$XLY"), used)) const PIMAGE_TLS_CALLBACK threadRuntimeDetach = ThreadDetach;

void* __emutls_get_address(EmutlsObject* object) {
    uintptr_t offset = __atomic_load_n(&object->loc.offset, __ATOMIC_ACQUIRE);
    if (offset == 0) [[unlikely]] {
        AcquireSRWLockExclusive(&tlsLock);
        offset = object->loc.offset;
        if (offset == 0) {
            offset = ++variableCount;
            __atomic_store_n(&object->loc.offset, offset, __ATOMIC_RELEASE);
        }
        ReleaseSRWLockExclusive(&tlsLock);
    }
    // Slot is read unlocked: it changes only at unload, when no thread runs module code.
    const DWORD slot = __atomic_load_n(&tlsSlot, __ATOMIC_ACQUIRE);
    auto* vars = slot == TLS_OUT_OF_INDEXES ? nullptr : static_cast<ThreadVariables*>(TlsGetValue(slot));
    if (!vars || offset > vars->size) [[unlikely]]
        vars = Grow(vars, offset);
    void*& variable = vars->data[offset - 1];
    if (!variable) [[unlikely]]
        variable = AllocateVariable(object);
    return variable;
}

void __emutls_register_common(EmutlsObject* object, uintptr_t size, uintptr_t align, void* templ) {
    if (object->size < size) {
        object->size = size;
        object->templ = nullptr;
    }
    if (object->align < align) object->align = align;
    if (templ && size == object->size) object->templ = templ;
}

int __cxa_guard_acquire(uint64_t* guard) {
    auto* bytes = reinterpret_cast<unsigned char*>(guard);
    if (__atomic_load_n(&bytes[0], __ATOMIC_ACQUIRE)) return 0;
    const DWORD self = GetCurrentThreadId();
    AcquireSRWLockExclusive(&guardLock);
    for (;;) {
        if (bytes[0]) {
            ReleaseSRWLockExclusive(&guardLock);
            return 0;
        }
        if (!bytes[1]) {
            bytes[1] = 1;
            std::memcpy(bytes + 4, &self, sizeof self);
            ReleaseSRWLockExclusive(&guardLock);
            return 1;
        }
        DWORD owner = 0;
        std::memcpy(&owner, bytes + 4, sizeof owner);
        if (owner == self) {
            // The initialiser reached its own variable again: waiting would never end. The
            // runtime throws this (the initialisation then aborts and unwinds, or terminates).
            ReleaseSRWLockExclusive(&guardLock);
            throw __gnu_cxx::recursive_init_error();
        }
        SleepConditionVariableSRW(&guardDone, &guardLock, INFINITE, 0);
    }
}

void __cxa_guard_release(uint64_t* guard) {
    auto* bytes = reinterpret_cast<unsigned char*>(guard);
    AcquireSRWLockExclusive(&guardLock);
    bytes[1] = 0;
    __atomic_store_n(&bytes[0], 1, __ATOMIC_RELEASE);
    ReleaseSRWLockExclusive(&guardLock);
    WakeAllConditionVariable(&guardDone);
}

void __cxa_guard_abort(uint64_t* guard) {
    auto* bytes = reinterpret_cast<unsigned char*>(guard);
    AcquireSRWLockExclusive(&guardLock);
    bytes[1] = 0;
    ReleaseSRWLockExclusive(&guardLock);
    WakeAllConditionVariable(&guardDone);
}

// The win32 thread model's primitives, in place of libgcc's (gthr-win32.c), with the layouts
// of its header. A mutex's `sema` word is a slim lock here (SRWLOCK_INIT is 0), so a mutex
// needs no kernel object and nothing to destroy; the recursive one adds owner and depth.
struct GthreadOnce {
    int done;
    long started;  // -1 until the first caller takes it
};
struct GthreadMutex {
    long counter;
    void* sema;
};
struct GthreadRecursiveMutex {
    long counter;
    int depth;
    unsigned long owner;
    void* sema;
};

int __mingwthr_key_dtor(DWORD key, void (*dtor)(void*));

int __gthr_win32_once(GthreadOnce* once, void (*func)()) {
    if (!once || !func) return ERROR_INVALID_PARAMETER;
    if (__atomic_load_n(&once->done, __ATOMIC_ACQUIRE)) return 0;
    if (InterlockedIncrement(&once->started) == 0) {
        func();
        __atomic_store_n(&once->done, 1, __ATOMIC_RELEASE);
    } else {
        while (!__atomic_load_n(&once->done, __ATOMIC_ACQUIRE)) Sleep(0);
    }
    return 0;
}

int __gthr_win32_key_create(DWORD* key, void (*dtor)(void*)) {
    const DWORD index = TlsAlloc();
    if (index == TLS_OUT_OF_INDEXES) return static_cast<int>(GetLastError());
    *key = index;
    return dtor ? __mingwthr_key_dtor(index, dtor) : 0;
}

int __gthr_win32_key_delete(DWORD key) { return TlsFree(key) ? 0 : static_cast<int>(GetLastError()); }

void* __gthr_win32_getspecific(DWORD key) {
    const DWORD error = GetLastError();
    void* value = TlsGetValue(key);
    SetLastError(error);
    return value;
}

int __gthr_win32_setspecific(DWORD key, const void* value) {
    return TlsSetValue(key, const_cast<void*>(value)) ? 0 : static_cast<int>(GetLastError());
}

void __gthr_win32_mutex_init_function(GthreadMutex* mutex) {
    mutex->counter = -1;
    mutex->sema = nullptr;
}

void __gthr_win32_mutex_destroy(GthreadMutex*) {}

int __gthr_win32_mutex_lock(GthreadMutex* mutex) {
    AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&mutex->sema));
    return 0;
}

int __gthr_win32_mutex_trylock(GthreadMutex* mutex) {
    return TryAcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&mutex->sema)) ? 0 : 1;
}

int __gthr_win32_mutex_unlock(GthreadMutex* mutex) {
    ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&mutex->sema));
    return 0;
}

void __gthr_win32_recursive_mutex_init_function(GthreadRecursiveMutex* mutex) {
    mutex->counter = -1;
    mutex->depth = 0;
    mutex->owner = 0;
    mutex->sema = nullptr;
}

int __gthr_win32_recursive_mutex_destroy(GthreadRecursiveMutex*) { return 0; }

// Only the owning thread ever finds its own id in `owner`, so the unlocked read is safe.
int __gthr_win32_recursive_mutex_lock(GthreadRecursiveMutex* mutex) {
    const unsigned long self = GetCurrentThreadId();
    if (__atomic_load_n(&mutex->owner, __ATOMIC_RELAXED) != self) {
        AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&mutex->sema));
        __atomic_store_n(&mutex->owner, self, __ATOMIC_RELAXED);
    }
    ++mutex->depth;
    return 0;
}

int __gthr_win32_recursive_mutex_trylock(GthreadRecursiveMutex* mutex) {
    const unsigned long self = GetCurrentThreadId();
    if (__atomic_load_n(&mutex->owner, __ATOMIC_RELAXED) != self) {
        if (!TryAcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&mutex->sema))) return 1;
        __atomic_store_n(&mutex->owner, self, __ATOMIC_RELAXED);
    }
    ++mutex->depth;
    return 0;
}

int __gthr_win32_recursive_mutex_unlock(GthreadRecursiveMutex* mutex) {
    if (--mutex->depth == 0) {
        __atomic_store_n(&mutex->owner, 0ul, __ATOMIC_RELAXED);
        ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&mutex->sema));
    }
    return 0;
}

}  // extern "C"
