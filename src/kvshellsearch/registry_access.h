// The one registry read that the launch path, the module entry and registration share.
#pragma once

#include <windows.h>

// Reads the default (unnamed) value of root\path, opening the key for reading only, into dest.
// The value's type is not checked. Succeeds only when the stored bytes fit into capacity and
// still leave a terminated text: a value that fills the whole capacity without its own zero, or
// that does not fit at all, fails. dest is written only on success, so a caller's buffer keeps
// its content after any failure. capacity may be at most TextBufferSize.
bool ReadDefaultTextValue(HKEY root, const char* path, char* dest, DWORD capacity);
