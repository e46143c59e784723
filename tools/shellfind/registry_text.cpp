#include "registry_text.h"

#include <stdio.h>
#include <string.h>

namespace {

// ERROR_FILE_NOT_FOUND is an absent key; any other refusal (access denied, a key marked for
// deletion) is worth telling apart.
ReadResult OpenKey(HKEY root, const char* path, REGSAM view, HKEY& key, LONG& error)
{
    key = nullptr;
    error = RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE | view, &key);
    if (error == ERROR_SUCCESS)
        return ReadResult::Ok;
    return error == ERROR_FILE_NOT_FOUND ? ReadResult::NoKey : ReadResult::KeyRefused;
}

const char* TypeName(DWORD type)
{
    static const char* const names[] = {"REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY",
        "REG_DWORD", "REG_DWORD_BIG_ENDIAN", "REG_LINK", "REG_MULTI_SZ"};
    return type < sizeof names / sizeof names[0] ? names[type] : "an unknown type";
}

} // namespace

void ReadRegistryText(
    HKEY root, const char* path, const char* valueName, REGSAM view, RegistryText& out)
{
    memset(&out, 0, sizeof out);
    HKEY key = nullptr;
    out.result = OpenKey(root, path, view, key, out.error);
    if (out.result != ReadResult::Ok)
        return;
    // One byte more than a text may fill, so that a value of exactly that size still reads and
    // the buffer stays terminated behind it.
    char data[RegistryTextSize + 1] = {};
    DWORD size = RegistryTextSize;
    out.error = RegQueryValueExA(
        key, valueName, nullptr, &out.type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);

    // A value that fills the whole buffer without a zero may go on beyond it.
    const bool tooLong = out.error == ERROR_MORE_DATA
        || (out.error == ERROR_SUCCESS && size == RegistryTextSize && data[size - 1] != '\0');
    if (out.error == ERROR_FILE_NOT_FOUND) {
        out.result = ReadResult::NoValue;
    } else if (tooLong) {
        out.result = ReadResult::TooLong;
    } else if (out.error != ERROR_SUCCESS) {
        out.result = ReadResult::Failed;
    } else if (out.type != REG_SZ && out.type != REG_EXPAND_SZ) {
        out.result = ReadResult::WrongType;
    } else {
        out.result
            = size != 0 && data[size - 1] != '\0' ? ReadResult::Unterminated : ReadResult::Ok;
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
    HKEY key = nullptr;
    out.result = OpenKey(root, path, view, key, out.error);
    if (out.result != ReadResult::Ok)
        return;
    BYTE data[16] = {};
    DWORD size = sizeof data;
    out.error = RegQueryValueExA(key, valueName, nullptr, &out.type, data, &size);
    RegCloseKey(key);
    // A number too large for the buffer is no DWORD either.
    const bool wrongType = out.error == ERROR_MORE_DATA
        || (out.error == ERROR_SUCCESS && (out.type != REG_DWORD || size != sizeof(DWORD)));
    if (out.error == ERROR_FILE_NOT_FOUND)
        out.result = ReadResult::NoValue;
    else if (wrongType)
        out.result = ReadResult::WrongType;
    else if (out.error != ERROR_SUCCESS)
        out.result = ReadResult::Failed;
    else
        memcpy(&out.value, data, sizeof out.value);
}

ReadResult RegistryValueState(HKEY root, const char* path, const char* valueName, REGSAM view)
{
    HKEY key = nullptr;
    LONG error = 0;
    ReadResult opened = OpenKey(root, path, view, key, error);
    if (opened != ReadResult::Ok)
        return opened;
    error = RegQueryValueExA(key, valueName, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    if (error == ERROR_SUCCESS || error == ERROR_MORE_DATA)
        return ReadResult::Ok;
    return error == ERROR_FILE_NOT_FOUND ? ReadResult::NoValue : ReadResult::Failed;
}

void DescribeReadFailure(ReadResult result, DWORD type, LONG error, char* phrase, size_t size)
{
    switch (result) {
    case ReadResult::Ok:
        snprintf(phrase, size, "is fine");
        break;
    case ReadResult::NoKey:
        snprintf(phrase, size, "is missing (no such key)");
        break;
    case ReadResult::KeyRefused:
        snprintf(phrase, size, "cannot be read: its key refuses to open (error %ld)", error);
        break;
    case ReadResult::NoValue:
        snprintf(phrase, size, "is missing (the key has no such value)");
        break;
    case ReadResult::WrongType:
        snprintf(phrase, size, "has the wrong type (%s)", TypeName(type));
        break;
    case ReadResult::Unterminated:
        snprintf(phrase, size, "is stored without its terminating zero");
        break;
    case ReadResult::TooLong:
        snprintf(phrase, size, "is longer than the %lu characters the module reads",
            static_cast<unsigned long>(RegistryTextSize - 1));
        break;
    case ReadResult::Failed:
        snprintf(phrase, size, "cannot be read (error %ld)", error);
        break;
    }
}
