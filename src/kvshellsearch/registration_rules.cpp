#include "registration_rules.h"

#include "kvshellsearch.h"
#include "text.h"

#define FIND_EXTENSIONS_STATIC                                                                     \
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FindExtensions\\Static"

const RegisteredKey RegistrationLayout[RegisteredKeyCount] = {
    {HKEY_CLASSES_ROOT, "CLSID\\%s", KeyArgument::ClassId, {{nullptr, ValueData::DisplayName}}},
    {HKEY_CLASSES_ROOT, "CLSID\\%s\\InProcServer32", KeyArgument::ClassId,
        {{nullptr, ValueData::ModulePath}, {"ThreadingModel", ValueData::Apartment}}},
    {HKEY_LOCAL_MACHINE, FIND_EXTENSIONS_STATIC "\\%s", KeyArgument::ExtensionName,
        {{nullptr, ValueData::ClassId}}},
    {HKEY_LOCAL_MACHINE, FIND_EXTENSIONS_STATIC "\\%s\\0", KeyArgument::ExtensionName,
        {{nullptr, ValueData::MenuText}}},
    {HKEY_LOCAL_MACHINE, FIND_EXTENSIONS_STATIC "\\%s\\0\\DefaultIcon", KeyArgument::ExtensionName,
        {{nullptr, ValueData::ModulePath}}},
};

void FormatRegisteredKeyPath(const RegisteredKey& key, const char* classId, char* path)
{
    const char* argument = key.argument == KeyArgument::ClassId ? classId : FindExtensionName;
    wsprintfA(path, key.pathTemplate, argument); // bounded at 1024 bytes, our buffer size
}

// The newer shells show the longer menu text. The minor version of platform 1 is tested by
// itself: 4.10 counts as older, 4.90 as newer.
static bool IsNewerShell()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version))
        return false;
    switch (version.dwPlatformId) {
    case VER_PLATFORM_WIN32_NT:
        return version.dwMajorVersion > 4;
    case VER_PLATFORM_WIN32_WINDOWS:
        return version.dwMajorVersion > 3 && version.dwMinorVersion > 10;
    default:
        return false;
    }
}

UINT MenuTextIdForThisSystem()
{
    return IsNewerShell() ? IDS_MENU_TEXT_NEWER_SHELL : IDS_MENU_TEXT_OLDER_SHELL;
}

HRESULT MakeRegisteredModulePath(const char* mainApp, const char* fileName, char* modulePath)
{
    // Quotes around the stored path belong to command lines; COM cannot load a quoted path.
    const char* start = mainApp;
    size_t length = TextLength(mainApp);
    if (start[0] == '"') {
        ++start;
        const char* closingQuote = FindChar(start, '"');
        length = closingQuote != nullptr ? static_cast<size_t>(closingQuote - start) : length - 1;
    }

    // Without any backslash the value names no directory: the bare file name, as without a
    // preference.
    size_t kept = 0;
    for (const char* at = start; at < start + length; at = NextChar(at)) {
        if (*at == '\\')
            kept = static_cast<size_t>(at - start) + 1;
    }
    const size_t fileNameSize = TextLength(fileName) + 1;
    if (kept + fileNameSize > TextBufferSize)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    CopyBytes(modulePath, start, kept);
    CopyBytes(modulePath + kept, fileName, fileNameSize);
    return S_OK;
}
