// Critical sections, slim locks, interlocked operations, thread identity and fiber-local storage
// with exit callbacks (the Win32 way for a DLL to learn that a thread ends).
#pragma once

#include <pthread.h>

#include "Types.h"

struct CRITICAL_SECTION {
    pthread_mutex_t mutex;
    DWORD spinCount;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD spinCount);
void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);

// Slim locks, used exclusively: constant-initialised, holding nothing that needs clean-up.
struct SRWLOCK {
    pthread_mutex_t mutex;
};
using PSRWLOCK = SRWLOCK*;
#define SRWLOCK_INIT {PTHREAD_MUTEX_INITIALIZER}
inline void AcquireSRWLockExclusive(PSRWLOCK lock) { pthread_mutex_lock(&lock->mutex); }
inline void ReleaseSRWLockExclusive(PSRWLOCK lock) { pthread_mutex_unlock(&lock->mutex); }
inline BYTE TryAcquireSRWLockExclusive(PSRWLOCK lock) { return pthread_mutex_trylock(&lock->mutex) == 0; }

inline LONG InterlockedIncrement(LONG volatile* p) { return __atomic_add_fetch(p, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedDecrement(LONG volatile* p) { return __atomic_sub_fetch(p, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedExchangeAdd(LONG volatile* p, LONG v) { return __atomic_fetch_add(p, v, __ATOMIC_SEQ_CST); }
inline LONG InterlockedExchange(LONG volatile* p, LONG v) { return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST); }
inline LONG InterlockedCompareExchange(LONG volatile* p, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

DWORD GetCurrentThreadId();
HANDLE GetCurrentProcess();

// Fiber-local storage: the callback runs with the slot's value when a thread ends
// (only for non-null values), as FlsAlloc documents.
using PFLS_CALLBACK_FUNCTION = void (*)(PVOID);
#define FLS_OUT_OF_INDEXES 0xFFFFFFFFu
DWORD FlsAlloc(PFLS_CALLBACK_FUNCTION callback);
PVOID FlsGetValue(DWORD index);
BOOL FlsSetValue(DWORD index, PVOID value);
BOOL FlsFree(DWORD index);

void Sleep(DWORD milliseconds);
