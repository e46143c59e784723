// The one registry read that the launch path, the module entry and registration share, and that
// shellfind's doctor calls to learn what the module would read.
#pragma once

#include <windows.h>

// Why a read gave a text or did not. The module itself only asks whether it is Read; the doctor
// explains the rest.
enum class TextReadResult {
    Read, // dest holds the value, terminated
    NoKey, // the key does not exist
    KeyRefused, // the key exists but refuses to open for reading
    NoValue, // the key has no default value
    TooLong, // the value, with a terminating zero, does not fit capacity
    Failed, // any other refusal of the query
};

struct TextReadFacts {
    TextReadResult result;
    DWORD type; // as stored; the module reads every type as text
    DWORD size; // bytes stored, when the query told
    LONG error; // of the open or the query that failed
};

// Reads the default (unnamed) value of root\path, opening the key for reading only, into dest.
// The value's type is not checked. Succeeds only when the stored bytes fit into capacity and
// still leave a terminated text: a value that fills the whole capacity without its own zero, or
// that does not fit at all, fails. dest is written only on success, so a caller's buffer keeps
// its content after any failure. capacity may be at most TextBufferSize. view: 0, or one of the
// KEY_WOW64_* flags (the doctor's, never the module's).
TextReadFacts ReadDefaultText(HKEY root, const char* path, REGSAM view, char* dest, DWORD capacity);

inline bool ReadDefaultTextValue(HKEY root, const char* path, char* dest, DWORD capacity)
{
    return ReadDefaultText(root, path, 0, dest, capacity).result == TextReadResult::Read;
}
