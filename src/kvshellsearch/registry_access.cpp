#include "registry_access.h"

#include "kvshellsearch.h"
#include "text.h"

bool ReadDefaultTextValue(HKEY root, const char* path, char* dest, DWORD capacity)
{
    if (dest == nullptr || capacity == 0 || capacity > TextBufferSize)
        return false;

    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;

    // A value that does not fit may leave the destination half written, so read privately.
    char value[TextBufferSize];
    DWORD size = capacity;
    LONG result
        = RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);

    if (result != ERROR_SUCCESS || size > capacity)
        return false;
    if (size == capacity && value[size - 1] != '\0')
        return false;

    CopyBytes(dest, value, size);
    if (size < capacity)
        dest[size] = '\0';
    return true;
}
