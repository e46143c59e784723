// The player's preferences: the product name they are filed under, the player's own path and the
// translation's path. shellfind's doctor reads them through these same functions.
#pragma once

#include <windows.h>
#include <stddef.h>

#include "registry_access.h"

// The product name in ProductNameSlot; fills an empty slot once, from the environment variable
// named after the host's executable file name, or with the default name. Never null.
const char* GetProductName();

// The rule behind GetProductName, for a slot's content and a host's executable path: the slot
// when it holds a name, else the environment variable named after the host's file name, else the
// default name. name has room for ShortTextSize bytes; hostPath is read only for a blank slot.
void ResolveProductName(const char* slot, const char* hostPath, char* name);

// Formats one preference key path (MainAppKeyTemplate or SatelliteKeyTemplate) for a product
// name into a zero-filled buffer of TextBufferSize bytes.
void FormatPreferenceKeyPath(const char* keyTemplate, const char* product, char* path);

// Reads the MainApp preference into dest. Returns true on success; after a failure dest holds
// exactly what the caller put there.
bool ReadMainAppPath(char* dest, DWORD capacity);

// The same reads for a given product name and registry view (the doctor's).
TextReadFacts ReadMainApp(const char* product, REGSAM view, char* dest, DWORD capacity);
// The satellite's path, as attach reads it: into path, a block of SatellitePathBlockSize bytes.
TextReadFacts ReadSatellitePath(const char* product, REGSAM view, char* path);

// The file name part of a path: behind the last backslash, else behind the last forward slash,
// else the whole path.
const char* FileNameOfPath(const char* path);
