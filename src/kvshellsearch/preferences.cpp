#include "preferences.h"

#include "kvshellsearch.h"
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

static bool ReadNameFromEnvironment(const char* hostPath, char* name)
{
    if (hostPath[0] == '\0')
        return false;
    // A value too long for the slot is reported with the size it would need: treat it as absent.
    char value[ShortTextSize] = {};
    DWORD valueLength = GetEnvironmentVariableA(FileNameOfPath(hostPath), value, ShortTextSize);
    if (valueLength == 0 || valueLength >= ShortTextSize)
        return false;
    CopyBytes(name, value, valueLength + 1);
    return true;
}

void ResolveProductName(const char* slot, const char* hostPath, char* name)
{
    if (slot[0] != '\0') {
        CopyBytes(name, slot, ShortTextSize - 1);
        name[ShortTextSize - 1] = '\0';
    } else if (!ReadNameFromEnvironment(hostPath, name)) {
        CopyBytes(name, DefaultProductName, sizeof DefaultProductName);
    }
}

const char* GetProductName()
{
    if (ProductNameSlot[0] != '\0')
        return ProductNameSlot;
    char hostPath[ShortTextSize] = {};
    // A path cut at the capacity may come back unterminated; a failed query leaves it empty.
    if (GetModuleFileNameA(nullptr, hostPath, ShortTextSize) == 0)
        hostPath[0] = '\0';
    hostPath[ShortTextSize - 1] = '\0';
    ResolveProductName(ProductNameSlot, hostPath, ProductNameSlot);
    return ProductNameSlot;
}

void FormatPreferenceKeyPath(const char* keyTemplate, const char* product, char* path)
{
    // wsprintfA writes at most 1024 bytes, the size of our text buffers; the longest product
    // name (259 characters) and either template fit well within that.
    wsprintfA(path, keyTemplate, product, PreferenceVersionMajor, PreferenceVersionMinor);
}

TextReadFacts ReadMainApp(const char* product, REGSAM view, char* dest, DWORD capacity)
{
    char keyPath[TextBufferSize] = {};
    FormatPreferenceKeyPath(MainAppKeyTemplate, product, keyPath);
    return ReadDefaultText(HKEY_CLASSES_ROOT, keyPath, view, dest, capacity);
}

bool ReadMainAppPath(char* dest, DWORD capacity)
{
    return ReadMainApp(GetProductName(), 0, dest, capacity).result == TextReadResult::Read;
}

TextReadFacts ReadSatellitePath(const char* product, REGSAM view, char* path)
{
    char keyPath[TextBufferSize] = {};
    FormatPreferenceKeyPath(SatelliteKeyTemplate, product, keyPath);
    // One byte more than is read, so a path that fills the read is still terminated.
    return ReadDefaultText(HKEY_CLASSES_ROOT, keyPath, view, path, SatellitePathBlockSize - 1);
}
