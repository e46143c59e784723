#include "registry_access.h"

#include "kvshellsearch.h"
#include "text.h"

TextReadFacts ReadDefaultText(HKEY root, const char* path, REGSAM view, char* dest, DWORD capacity)
{
    TextReadFacts facts = {TextReadResult::Failed, REG_NONE, 0, ERROR_INVALID_PARAMETER};
    if (dest == nullptr || capacity == 0 || capacity > TextBufferSize)
        return facts;

    HKEY key = nullptr;
    facts.error = RegOpenKeyExA(root, path, 0, KEY_READ | view, &key);
    if (facts.error != ERROR_SUCCESS) {
        facts.result = facts.error == ERROR_FILE_NOT_FOUND ? TextReadResult::NoKey
                                                           : TextReadResult::KeyRefused;
        return facts;
    }

    // A value that does not fit may leave the destination half written, so read privately.
    char value[TextBufferSize];
    facts.size = capacity;
    facts.error = RegQueryValueExA(
        key, "", nullptr, &facts.type, reinterpret_cast<BYTE*>(value), &facts.size);
    RegCloseKey(key);

    switch (facts.error) {
    case ERROR_SUCCESS:
        break;
    case ERROR_FILE_NOT_FOUND:
        facts.result = TextReadResult::NoValue;
        return facts;
    case ERROR_MORE_DATA:
        facts.result = TextReadResult::TooLong;
        return facts;
    default:
        return facts;
    }
    if (facts.size > capacity || (facts.size == capacity && value[facts.size - 1] != '\0')) {
        facts.result = TextReadResult::TooLong;
        return facts;
    }

    CopyBytes(dest, value, facts.size);
    if (facts.size < capacity)
        dest[facts.size] = '\0';
    facts.result = TextReadResult::Read;
    return facts;
}
