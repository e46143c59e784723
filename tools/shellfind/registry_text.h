// Reading what a broken machine may hold: values of another type, strings stored without their
// terminating zero, values too long for the module's buffers, keys that refuse to open.
#pragma once

#include <windows.h>

// The module reads its texts into 1024-byte buffers: anything longer is too long.
constexpr DWORD RegistryTextSize = 1024;

enum class ReadResult { Ok, NoKey, KeyRefused, NoValue, WrongType, Unterminated, TooLong, Failed };

struct RegistryText {
    ReadResult result;
    DWORD type;
    LONG error; // of the open or the query that failed
    char text[RegistryTextSize]; // always terminated; what could be read, else empty
};

struct RegistryNumber {
    ReadResult result;
    DWORD type;
    LONG error;
    DWORD value;
};

// view: 0, or KEY_WOW64_32KEY / KEY_WOW64_64KEY. valueName "" is the default value. A text is
// REG_SZ or REG_EXPAND_SZ, the latter expanded; a number is REG_DWORD.
void ReadRegistryText(
    HKEY root, const char* path, const char* valueName, REGSAM view, RegistryText& out);
void ReadRegistryNumber(
    HKEY root, const char* path, const char* valueName, REGSAM view, RegistryNumber& out);
// Ok when a value of that name exists, of whatever type; else why it was not found.
ReadResult RegistryValueState(HKEY root, const char* path, const char* valueName, REGSAM view);

// Why a read did not give a usable value, as a phrase: "is missing", "has type REG_BINARY"...
// Writes into a buffer of at least 128 bytes.
void DescribeReadFailure(ReadResult result, DWORD type, LONG error, char* phrase, size_t size);
// A registry type's name: "REG_SZ", "REG_DWORD", ...
const char* TypeName(DWORD type);
