#include "find_entries.h"

#include <string.h>

#include "console.h"
#include "registry_text.h"

// A text value, always terminated, empty when it cannot be read as a text.
static void ReadText(HKEY root, const char* path, char* text, DWORD size)
{
    RegistryText value = {};
    ReadRegistryText(root, path, "", 0, value);
    const bool usable = value.result == ReadResult::Ok || value.result == ReadResult::Unterminated;
    lstrcpynA(text, usable ? value.text : "", static_cast<int>(size));
}

int ReadFindEntries(FindEntry* entries, int capacity)
{
    HKEY extensions = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FindExtensionsStaticKey, 0, KEY_READ, &extensions)
        != ERROR_SUCCESS)
        return 0;
    int count = 0;
    for (DWORD index = 0; count < capacity; ++index) {
        FindEntry& entry = entries[count];
        memset(&entry, 0, sizeof entry);
        DWORD nameLength = sizeof entry.name;
        if (RegEnumKeyExA(
                extensions, index, entry.name, &nameLength, nullptr, nullptr, nullptr, nullptr)
            != ERROR_SUCCESS)
            break;
        char path[2048];
        FormatText(path, sizeof path, "%s\\%s", FindExtensionsStaticKey, entry.name);
        ReadText(HKEY_LOCAL_MACHINE, path, entry.classId, sizeof entry.classId);
        FormatText(path, sizeof path, "%s\\%s\\0", FindExtensionsStaticKey, entry.name);
        ReadText(HKEY_LOCAL_MACHINE, path, entry.menuText, sizeof entry.menuText);
        FormatText(
            path, sizeof path, "%s\\%s\\0\\DefaultIcon", FindExtensionsStaticKey, entry.name);
        ReadText(HKEY_LOCAL_MACHINE, path, entry.iconPath, sizeof entry.iconPath);
        FormatText(path, sizeof path, "CLSID\\%s", entry.classId);
        ReadText(HKEY_CLASSES_ROOT, path, entry.className, sizeof entry.className);
        FormatText(path, sizeof path, "CLSID\\%s\\InProcServer32", entry.classId);
        ReadText(HKEY_CLASSES_ROOT, path, entry.modulePath, sizeof entry.modulePath);
        entry.classRegistered = entry.classId[0] != '\0' && entry.modulePath[0] != '\0';
        ++count;
    }
    RegCloseKey(extensions);
    return count;
}
