#include "registry_text.h"

#include "console.h"

#include <string.h>

namespace {

// Opens the key, queries the value into data (size: in, the room; out, the bytes) and closes
// the key. ERROR_FILE_NOT_FOUND from the open is an absent key; any other refusal (access
// denied, a key marked for deletion) is worth telling apart. A value larger than the room is
// TooLong.
ReadResult QueryValue(HKEY root, const char* path, const char* valueName, REGSAM view, DWORD& type,
    LONG& error, void* data, DWORD* size)
{
    HKEY key = nullptr;
    error = RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE | view, &key);
    if (error != ERROR_SUCCESS)
        return error == ERROR_FILE_NOT_FOUND ? ReadResult::NoKey : ReadResult::KeyRefused;
    error = RegQueryValueExA(key, valueName, nullptr, &type, static_cast<BYTE*>(data), size);
    RegCloseKey(key);
    switch (error) {
    case ERROR_SUCCESS:
        return ReadResult::Ok;
    case ERROR_FILE_NOT_FOUND:
        return ReadResult::NoValue;
    case ERROR_MORE_DATA:
        return ReadResult::TooLong;
    default:
        return ReadResult::Failed;
    }
}

} // namespace

void ReadRegistryText(
    HKEY root, const char* path, const char* valueName, REGSAM view, RegistryText& out)
{
    memset(&out, 0, sizeof out);
    // One byte more than a text may fill, so that a value of exactly that size still reads and
    // the buffer stays terminated behind it.
    char data[RegistryTextSize + 1] = {};
    DWORD size = RegistryTextSize;
    out.result = QueryValue(root, path, valueName, view, out.type, out.error, data, &size);
    if (out.result != ReadResult::Ok)
        return;
    // A value that fills the whole buffer without a zero may go on beyond it.
    if (size == RegistryTextSize && data[size - 1] != '\0') {
        out.result = ReadResult::TooLong;
    } else if (out.type != REG_SZ && out.type != REG_EXPAND_SZ) {
        out.result = ReadResult::WrongType;
    } else {
        if (size != 0 && data[size - 1] != '\0')
            out.result = ReadResult::Unterminated;
        if (out.type == REG_EXPAND_SZ) {
            DWORD needed = ExpandEnvironmentStringsA(data, out.text, RegistryTextSize);
            if (needed == 0 || needed > RegistryTextSize) {
                out.text[0] = '\0';
                out.result = ReadResult::TooLong;
            }
        } else {
            memcpy(out.text, data, RegistryTextSize - 1);
        }
    }
}

void ReadRegistryNumber(
    HKEY root, const char* path, const char* valueName, REGSAM view, RegistryNumber& out)
{
    memset(&out, 0, sizeof out);
    BYTE data[16] = {};
    DWORD size = sizeof data;
    out.result = QueryValue(root, path, valueName, view, out.type, out.error, data, &size);
    // A value too large for the buffer is no DWORD either.
    if (out.result == ReadResult::TooLong
        || (out.result == ReadResult::Ok && (out.type != REG_DWORD || size != sizeof(DWORD))))
        out.result = ReadResult::WrongType;
    else if (out.result == ReadResult::Ok)
        memcpy(&out.value, data, sizeof out.value);
}

ReadResult RegistryValueState(HKEY root, const char* path, const char* valueName, REGSAM view)
{
    DWORD type = 0;
    LONG error = 0;
    ReadResult result = QueryValue(root, path, valueName, view, type, error, nullptr, nullptr);
    return result == ReadResult::TooLong ? ReadResult::Ok : result;
}

void DescribeReadFailure(ReadResult result, DWORD type, LONG error, char* phrase, size_t size)
{
    switch (result) {
    case ReadResult::Ok:
        FormatText(phrase, size, "is fine");
        break;
    case ReadResult::NoKey:
        FormatText(phrase, size, "is missing (no such key)");
        break;
    case ReadResult::KeyRefused:
        FormatText(phrase, size, "cannot be read: its key refuses to open (error %ld)", error);
        break;
    case ReadResult::NoValue:
        FormatText(phrase, size, "is missing (the key has no such value)");
        break;
    case ReadResult::WrongType:
        FormatText(phrase, size, "has the wrong type (%s)", TypeName(type));
        break;
    case ReadResult::Unterminated:
        FormatText(phrase, size, "is stored without its terminating zero");
        break;
    case ReadResult::TooLong:
        FormatText(phrase, size, "is longer than the %lu characters the module reads",
            static_cast<unsigned long>(RegistryTextSize - 1));
        break;
    case ReadResult::Failed:
        FormatText(phrase, size, "cannot be read (error %ld)", error);
        break;
    }
}

const char* TypeName(DWORD type)
{
    static const char* const names[] = {"REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY",
        "REG_DWORD", "REG_DWORD_BIG_ENDIAN", "REG_LINK", "REG_MULTI_SZ"};
    return type < sizeof names / sizeof names[0] ? names[type] : "an unknown type";
}
