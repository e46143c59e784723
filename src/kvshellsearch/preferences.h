// The player's preferences: the product name they are filed under, and the player's own path.
#pragma once

#include <windows.h>
#include <stddef.h>

// The product name in ProductNameSlot; fills an empty slot once, from the environment variable
// named after the host's executable file name, or with the default name. Never null.
const char* GetProductName();

// Formats one preference key path (MainAppKeyTemplate or SatelliteKeyTemplate) for the current
// product name into a zero-filled buffer of TextBufferSize bytes.
void FormatPreferenceKeyPath(const char* keyTemplate, char* path);

// Reads the MainApp preference into dest. Returns true on success; after a failure dest holds
// exactly what the caller put there.
bool ReadMainAppPath(char* dest, DWORD capacity);

// The file name part of a path: behind the last backslash, else behind the last forward slash,
// else the whole path.
const char* FileNameOfPath(const char* path);
