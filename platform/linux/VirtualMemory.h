// VirtualAlloc / VirtualAlloc2 / VirtualFree over mmap; VirtualAlloc2 honours an
// address-alignment requirement.
#pragma once

#include "Types.h"

#define MEM_COMMIT 0x00001000u
#define MEM_RESERVE 0x00002000u
#define MEM_DECOMMIT 0x00004000u
#define MEM_RELEASE 0x00008000u
#define PAGE_NOACCESS 0x01u
#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u

enum MEM_EXTENDED_PARAMETER_TYPE {
    MemExtendedParameterInvalidType = 0,
    MemExtendedParameterAddressRequirements = 1,
    MemExtendedParameterNumaNode = 2,
};
#define MEM_EXTENDED_PARAMETER_TYPE_BITS 8

struct MEM_ADDRESS_REQUIREMENTS {
    PVOID LowestStartingAddress;
    PVOID HighestEndingAddress;
    SIZE_T Alignment;
};

struct alignas(8) MEM_EXTENDED_PARAMETER {
    struct {
        DWORD64 Type : MEM_EXTENDED_PARAMETER_TYPE_BITS;
        DWORD64 Reserved : 64 - MEM_EXTENDED_PARAMETER_TYPE_BITS;
    };
    union {
        DWORD64 ULong64;
        PVOID Pointer;
        SIZE_T Size;
        HANDLE Handle;
        DWORD ULong;
    };
};

PVOID VirtualAlloc2(HANDLE process, PVOID baseAddress, SIZE_T size, ULONG allocationType, ULONG pageProtection,
                    MEM_EXTENDED_PARAMETER* extendedParameters, ULONG parameterCount);
// Reserves (PAGE_NOACCESS) or reserves and commits a new range, at `address` (64 KiB aligned)
// when given: like Windows, that fails if anything is mapped there already.
LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect);
BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType);
