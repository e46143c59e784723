// A stand-in for the Windows shell's Find/Search menu. It lists the find extensions registered
// under FindExtensions\Static the way the shell reads them, and invokes one through COM the way
// the shell does. Useful on a real Windows machine too: it depends on nothing but Windows.
//
//   shellfind list            every entry: key, class, menu text, icon path, module path
//   shellfind invoke NAME     CoCreateInstance, Initialize, QueryContextMenu, InvokeCommand
//   shellfind menu [SECONDS]  the entries as a popup menu, drawn as the shell draws them, for
//                             SECONDS (default 5) or until one is picked, which is then invoked
//   shellfind doctor [NAME]   why the entry (default Orbelquest) does not show or does not work:
//                             one line per check; exit 0 only when all is well (exit_codes.h)
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "doctor.h"
#include "exit_codes.h"
#include "find_entries.h"
#include "find_menu.h"

namespace {

bool IconLoads(const char* iconPath)
{
    HICON small = nullptr;
    if (iconPath[0] == '\0' || ExtractIconExA(iconPath, 0, nullptr, &small, 1) == 0
        || small == nullptr)
        return false;
    DestroyIcon(small);
    return true;
}

int List()
{
    FindEntry entries[64];
    int count = ReadFindEntries(entries, ARRAYSIZE(entries));
    if (count == 0) {
        printf("No find extensions are registered under HKLM\\%s\n", FindExtensionsStaticKey);
        return Success;
    }
    int broken = 0;
    for (int i = 0; i < count; ++i) {
        const FindEntry& entry = entries[i];
        bool iconLoads = IconLoads(entry.iconPath);
        printf("%s\n", entry.name);
        printf("  class:       %s%s\n", entry.classId,
            entry.classRegistered ? "" : "  (NOT REGISTERED)");
        printf("  display:     %s\n", entry.className);
        printf("  module:      %s\n", entry.modulePath);
        printf("  menu text:   %s\n", entry.menuText);
        printf("  icon:        %s (%s)\n", entry.iconPath, iconLoads ? "loads" : "DOES NOT LOAD");
        if (!entry.classRegistered || !iconLoads)
            ++broken;
    }
    if (broken != 0)
        printf("%d of %d entries are broken\n", broken, count);
    return broken != 0 ? BrokenEntry : Success;
}

int Fail(ExitCode code, const char* what, HRESULT result)
{
    char message[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(result), 0, message, sizeof message - 1, nullptr);
    fprintf(stderr, "%s (0x%08lX) %s\n", what, static_cast<unsigned long>(result), message);
    return code;
}

int Invoke(const char* name)
{
    FindEntry entries[64];
    int count = ReadFindEntries(entries, ARRAYSIZE(entries));
    const FindEntry* entry = nullptr;
    for (int i = 0; i < count; ++i) {
        if (_stricmp(entries[i].name, name) == 0)
            entry = &entries[i];
    }
    if (entry == nullptr) {
        fprintf(stderr, "No find extension named %s is registered\n", name);
        return EntryNotFound;
    }

    CLSID classId;
    wchar_t wideClassId[64] = {};
    MultiByteToWideChar(CP_ACP, 0, entry->classId, -1, wideClassId, ARRAYSIZE(wideClassId));
    if (FAILED(CLSIDFromString(wideClassId, &classId))) {
        fprintf(stderr, "Entry %s names no valid class: \"%s\"\n", name, entry->classId);
        return ClassNotRegistered;
    }

    CoInitialize(nullptr);
    int code = Success;
    IShellExtInit* init = nullptr;
    HRESULT result = CoCreateInstance(
        classId, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, reinterpret_cast<void**>(&init));
    if (result == REGDB_E_CLASSNOTREG) {
        code = Fail(ClassNotRegistered, "The entry's class is not registered", result);
    } else if (FAILED(result)) {
        printf("module: %s\n", entry->modulePath);
        code = Fail(ModuleNotLoaded, "The entry's module could not be loaded", result);
    } else {
        IContextMenu* menu = nullptr;
        result = init->Initialize(nullptr, nullptr, nullptr);
        if (SUCCEEDED(result))
            result = init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu));
        if (SUCCEEDED(result)) {
            HMENU popup = CreatePopupMenu();
            result = menu->QueryContextMenu(popup, 0, 1, 0x7fff, CMF_NORMAL);
            DestroyMenu(popup);
        }
        if (SUCCEEDED(result)) {
            CMINVOKECOMMANDINFO info = {};
            info.cbSize = sizeof info;
            info.lpVerb = MAKEINTRESOURCEA(0);
            info.nShow = SW_SHOWNORMAL;
            result = menu->InvokeCommand(&info);
        }
        if (FAILED(result))
            code = Fail(InvokeFailed, "Invoking the entry failed", result);
        else
            printf("Invoked %s (\"%s\"): the command was started\n", name, entry->menuText);
        if (menu != nullptr)
            menu->Release();
        init->Release();
    }
    CoUninitialize();
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "list") == 0)
        return List();
    if (argc == 3 && strcmp(argv[1], "invoke") == 0)
        return Invoke(argv[2]);
    if ((argc == 2 || argc == 3) && strcmp(argv[1], "doctor") == 0)
        return Doctor(argc == 3 ? argv[2] : "Orbelquest");
    if ((argc == 2 || argc == 3) && strcmp(argv[1], "menu") == 0) {
        char picked[256] = {};
        int seconds = argc == 3 ? static_cast<int>(strtol(argv[2], nullptr, 10)) : 5;
        if (!ShowFindMenu(seconds > 0 ? seconds : 5, picked, sizeof picked))
            return Success;
        return Invoke(picked);
    }
    fprintf(stderr, "usage: shellfind list | invoke NAME | menu [SECONDS] | doctor [NAME]\n");
    return Usage;
}
