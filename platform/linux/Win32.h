// Portable implementation of the Win32/COM names the system uses, for non-Windows builds.
// Each piece behaves as the Windows documentation describes the call, return codes included.
#pragma once

#include "Types.h"
#include "Com.h"
#include "Sync.h"
#include "VirtualMemory.h"
#include "Files.h"
#include "Module.h"
#include "Streams.h"
#include "Processor.h"
#include "User.h"
#include "Registry.h"
#include "Gdi.h"
#include "Shell.h"
