// Module-wide state and the identifiers that several parts of the module share.
#pragma once

#include <windows.h>

#include "resources/resource_ids.h"

// Every piece of module-wide state is zero at load; DllMain fills OwnModule and ResourceModule.
extern HMODULE OwnModule;
extern HMODULE ResourceModule;
extern volatile LONG LiveObjectCount;
// Locks taken through IClassFactory::LockServer and not yet released.
extern volatile LONG ServerLockCount;
// Writable and kept in the image so that a vendor can rebrand a built module.
extern char ProductNameSlot[260];

extern const CLSID CLSID_ShellSearch;

// Working texts (key paths, resource texts, module paths, command lines) use buffers of this size.
constexpr DWORD TextBufferSize = 1024;
// The product name and the host's executable path use this size.
constexpr DWORD ShortTextSize = 260;
// The satellite's path is read into 260 bytes of a block one byte larger, which keeps a path that
// fills the read terminated.
constexpr DWORD SatellitePathBlockSize = ShortTextSize + 1;

constexpr char DefaultProductName[] = "Kestrovane";
constexpr int PreferenceVersionMajor = 6;
constexpr int PreferenceVersionMinor = 0;
constexpr char MainAppKeyTemplate[] = "Software\\Tessalquorin\\%s\\%d.%d\\Preferences\\MainApp";
constexpr char SatelliteKeyTemplate[]
    = "Software\\Tessalquorin\\%s\\%d.%d\\Preferences\\SatelliteShellSearch";

// The file registered beside the player. Each bitness has a name of its own, so that on a 64-bit
// system both can be installed side by side, one for 32-bit and one for 64-bit shells.
constexpr char ModuleFileName32[] = "kvshellsearch.dll";
constexpr char ModuleFileName64[] = "kvshellsearch64.dll";
#ifdef _WIN64
constexpr const char* ModuleFileName = ModuleFileName64;
#else
constexpr const char* ModuleFileName = ModuleFileName32;
#endif
constexpr char FindExtensionName[] = "Orbelquest";
