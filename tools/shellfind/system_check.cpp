#include "system_check.h"

#include <windows.h>
#include <shlobj.h>

#include "repair_plan.h"
#include "report.h"

bool SystemIs64Bit()
{
#ifdef _WIN64
    return true;
#else
    // Looked up, not imported: Windows 95 to 2000 have no such function, and are 32-bit.
    typedef BOOL(WINAPI * IsWow64ProcessFunction)(HANDLE, PBOOL);
    auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}

// Whether Windows XP's own Start menu (the "Start panel") is on. SHGetSetSettings is looked up:
// shell32 exports it by ordinal 68 only on some releases, and releases before XP have no panel.
static bool StartPanelIsOn()
{
    typedef void(WINAPI * GetSetSettingsFunction)(SHELLSTATE*, DWORD, BOOL);
    HMODULE shell = GetModuleHandleA("shell32.dll");
    if (shell == nullptr)
        return false;
    auto getSetSettings = reinterpret_cast<GetSetSettingsFunction>(
        reinterpret_cast<void*>(GetProcAddress(shell, "SHGetSetSettings")));
    if (getSetSettings == nullptr) {
        getSetSettings = reinterpret_cast<GetSetSettingsFunction>(
            reinterpret_cast<void*>(GetProcAddress(shell, MAKEINTRESOURCEA(68))));
    }
    if (getSetSettings == nullptr)
        return false;
    SHELLSTATE state = {};
    getSetSettings(&state, SSF_STARTPANELON, FALSE);
    return state.fStartPanelOn != 0;
}

// The system line: whether this Windows has a Find/Search menu at all, and where.
bool CheckSystem(Report& report, bool is64Bit)
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) {
        report.Fault(true, NoFindMenu, NoRepair, "run the doctor on the customer's Windows itself",
            "system", "the Windows version cannot be read");
        return false;
    }
    const unsigned long major = version.dwMajorVersion;
    const unsigned long minor = version.dwMinorVersion;
    const char* bits = is64Bit ? "64-bit" : "32-bit";
    const char* where = nullptr;
    bool xp = false;
    if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        // 95 (4.0) and 98 (4.10) call the menu Find, Me (4.90) calls it Search.
        where = minor >= 90 ? "Start > Search" : "Start > Find";
    } else if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && major < 6) {
        xp = major == 5 && minor >= 1;
        where = major < 5 ? "Start > Find"
            : xp          ? "the classic Start menu's Search submenu (Start > Search)"
                          : "Start > Search";
    }
    if (where == nullptr) {
        report.Fault(true, NoFindMenu, NoRepair,
            "nothing here can be repaired: start the search from the player itself", "system",
            "Windows %lu.%lu has no Find/Search menu (there is none from Windows Vista on): the "
            "entry cannot show on this system",
            major, minor);
        return false;
    }
    report.Ok("system", "Windows %lu.%lu, %s: the entry shows in %s", major, minor, bits, where);
    if (xp && StartPanelIsOn()) {
        report.Note("system",
            "this user has the Windows XP style Start menu on; the entry is in the Search "
            "submenu of the classic Start menu (right-click Start > Properties > Classic Start "
            "menu)");
    }
    return true;
}
