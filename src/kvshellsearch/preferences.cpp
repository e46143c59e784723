#include "preferences.h"

#include "kvshellsearch.h"
#include "registry_access.h"
#include "text.h"

// Zero-padded to its full size, in a writable section of its own, so that a vendor's tool finds
// exactly these bytes in a built module, even when they are blank, and patches them.
__attribute__((section(".kvname"))) char ProductNameSlot[ShortTextSize] = "Kestrovane";

const char* FileNameOfPath(const char* path)
{
    const char* separator = FindLastChar(path, '\\');
    if (separator == nullptr)
        separator = FindLastChar(path, '/');
    return separator != nullptr ? separator + 1 : path;
}

static bool ReadNameFromEnvironment(char* name)
{
    char hostPath[ShortTextSize] = {};
    DWORD length = GetModuleFileNameA(nullptr, hostPath, ShortTextSize);
    if (length == 0)
        return false;
    hostPath[ShortTextSize - 1] = '\0'; // a path cut at the capacity may come back unterminated

    // A value too long for the slot is reported with the size it would need: treat it as absent.
    char value[ShortTextSize] = {};
    DWORD valueLength = GetEnvironmentVariableA(FileNameOfPath(hostPath), value, ShortTextSize);
    if (valueLength == 0 || valueLength >= ShortTextSize)
        return false;
    CopyBytes(name, value, valueLength + 1);
    return true;
}

const char* GetProductName()
{
    if (ProductNameSlot[0] != '\0')
        return ProductNameSlot;
    if (!ReadNameFromEnvironment(ProductNameSlot))
        CopyBytes(ProductNameSlot, DefaultProductName, sizeof DefaultProductName);
    return ProductNameSlot;
}

void FormatPreferenceKeyPath(const char* keyTemplate, char* path)
{
    // wsprintfA writes at most 1024 bytes, the size of our text buffers; the longest product
    // name (259 characters) and either template fit well within that.
    wsprintfA(path, keyTemplate, GetProductName(), PreferenceVersionMajor, PreferenceVersionMinor);
}

bool ReadMainAppPath(char* dest, DWORD capacity)
{
    char keyPath[TextBufferSize] = {};
    FormatPreferenceKeyPath(MainAppKeyTemplate, keyPath);
    return ReadDefaultTextValue(HKEY_CLASSES_ROOT, keyPath, dest, capacity);
}
