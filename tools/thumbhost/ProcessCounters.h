// What a long-lived host process holds: committed private memory, kernel handles by type and
// GDI objects, each read from a source that follows real objects (Wine's PrivateUsage,
// GetProcessHandleCount and GetGuiResources read 0 whatever the process does).
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/Platform.h"

namespace thumbhost {

struct ProcessCounters {
    // Sum of committed private regions over the whole address space (VirtualQuery).
    uint64_t committedPrivateBytes = 0;
    // This process's entries of the system handle table, by object type name.
    std::map<std::wstring, long> handlesByType;
    // Live GDI objects of this process (stock objects included) in the GDI handle table that
    // the system maps into the process; -1 when unreadable.
    long gdiObjects = -1;
    std::map<int, long> gdiByType;  // by the table's type code
    // Bytes of busy blocks over every heap of the process (HeapWalk).
    uint64_t heapBytesInUse = 0;
    // The slot TlsAlloc / FlsAlloc would hand out next (taken and given back at once).
    DWORD lowestFreeTls = 0;
    DWORD lowestFreeFls = 0;

    // GDI objects of the type that DIB sections have here (learnt by the counter check).
    long DibSections() const;
    long Handles() const;
    long HandlesOfType(const wchar_t* type) const;
};

// Busy bytes over every heap of the process.
uint64_t HeapBytesInUse();

// Reads all the counters; false (with why) when the handle table cannot be read.
bool ReadProcessCounters(ProcessCounters& counters, std::wstring& why);

// The GDI table's type code of a DIB section (it differs between systems), as the counter
// check saw it; -1 before.
extern int dibSectionType;

// Makes and frees objects on purpose (committed memory, events, semaphores, threads, DIB
// sections) and checks that every counter moves by exactly what was made and comes back.
// Prints what it saw; false when any counter does not follow.
bool CheckCountersFollowObjects();

// "Event +3, Thread -1" for the types whose counts differ; "none" when none do.
std::wstring HandleDifference(const ProcessCounters& from, const ProcessCounters& to);
// The same for GDI objects, by the table's type code.
std::wstring GdiDifference(const ProcessCounters& from, const ProcessCounters& to);

}  // namespace thumbhost
