#include "customer_window.h"

#include <windows.h>
#include <shlobj.h>

#include "console.h"
#include "doctor.h"
#include "exit_codes.h"
#include "kvshellsearch.h"
#include "repair.h"
#include "repair_plan.h"
#include "report.h"
#include "text.h"

namespace {

constexpr char Title[] = "Kestrovane search entry";
constexpr char ReportName[] = "Kestrovane search report.txt";

// What the doctor wrote, for the report; repair's lines follow its own.
char doctorText[64 * 1024];

// The first fault's code in words a customer understands.
const char* Problem(int code)
{
    switch (code) {
    case EntryNotFound:
        return "The Kestrovane search entry is missing from the Find menu: it is not set up on "
               "this computer.";
    case ClassNotRegistered:
    case ModuleNotLoaded:
        return "The Kestrovane search entry is set up, but its program file is missing, damaged "
               "or in the wrong place.";
    case MenuTextWrong:
        return "The Kestrovane search entry has lost its name, and Windows shows no entry "
               "without one.";
    case PreferencesBroken:
        return "The Kestrovane search entry cannot start Kestrovane: the player's location is "
               "missing or wrong.";
    case ShellExtensionPolicy:
        return "The Kestrovane search entry is turned off by this computer's settings.";
    case NoFindMenu:
        return "This version of Windows has no Find or Search menu, so the entry cannot show. "
               "Use the search in Kestrovane itself.";
    case Incomplete:
        return "Not everything about the Kestrovane search entry could be checked here.";
    default:
        return "The Kestrovane search entry does not work.";
    }
}

bool IsWindowsNt5OrLater()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT
        && version.dwMajorVersion >= 5;
}

// Whether this 32-bit program runs on 64-bit Windows, where the 64-bit shell's entry is the 64-bit
// build's to check and mend. IsWow64Process came with XP SP2: looked up, never imported.
bool OnWindows64()
{
    using IsWow64 = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto isWow64 = reinterpret_cast<IsWow64>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

// Who can mend what this program cannot, and how, on this Windows.
const char* WhoCanMend(int code, const RepairPlan& plan)
{
    if (code == NoFindMenu)
        return "";
    if (OnWindows64())
        return "On 64-bit Windows, start the 64-bit file of this program instead "
               "(its name ends in -x64.exe): it checks and mends the entry that Windows shows.";
    const bool administrator
        = code == ShellExtensionPolicy || (plan.ours && plan.ownBitness && !plan.mayWrite);
    if (!administrator)
        return "Install Kestrovane again (or repair it from Add/Remove Programs): its installer "
               "puts the entry back.";
    if (IsWindowsNt5OrLater())
        return "Only an administrator of this computer can mend it. Right-click this program, "
               "choose \"Run as...\" (on Windows 2000, hold Shift while you right-click), enter "
               "an administrator's name and password, and choose Yes when it asks.";
    return "Only an administrator of this computer can mend it: log on as an administrator and "
           "start this program again.";
}

int Ask(const char* text, UINT buttons)
{
    return MessageBoxA(nullptr, text, Title, buttons | MB_SETFOREGROUND);
}

// The desktop's folder (Windows 95 has SHGetSpecialFolderLocation), else this program's own.
void ReportPath(char* path)
{
    char folder[MAX_PATH] = {};
    LPITEMIDLIST list = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOPDIRECTORY, &list))) {
        if (!SHGetPathFromIDListA(list, folder))
            folder[0] = '\0';
        IMalloc* malloc = nullptr;
        if (SUCCEEDED(SHGetMalloc(&malloc))) {
            malloc->Free(list);
            malloc->Release();
        }
    }
    if (folder[0] == '\0' || GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES) {
        lstrcpynA(folder, OwnPath(), MAX_PATH);
        if (char* separator = const_cast<char*>(FindLastChar(folder, '\\')))
            *separator = '\0';
    }
    FormatText(path, MAX_PATH, "%s\\%s", folder, ReportName);
}

bool SaveReport(char* path)
{
    ReportPath(path);
    HANDLE file = CreateFileA(
        path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // Line ends as Notepad wants them.
    char line[2] = {'\r', '\n'};
    bool written = true;
    for (const char* at = doctorText; *at != '\0' && written;) {
        const char* end = at;
        while (*end != '\0' && *end != '\n')
            ++end;
        DWORD done = 0;
        const DWORD length = static_cast<DWORD>(end - at);
        written = (length == 0 || (WriteFile(file, at, length, &done, nullptr) && done == length))
            && (*end == '\0' || (WriteFile(file, line, 2, &done, nullptr) && done == 2));
        at = *end == '\0' ? end : end + 1;
    }
    CloseHandle(file);
    return written;
}

// "backup: PATH" of repair's lines, or an empty text.
void BackupPathIn(const char* text, char* path)
{
    path[0] = '\0';
    static constexpr char Prefix[] = "backup: ";
    for (const char* line = text; *line != '\0';) {
        int same = 0;
        while (Prefix[same] != '\0' && line[same] == Prefix[same])
            ++same;
        if (Prefix[same] == '\0') {
            int length = 0;
            while (line[same + length] != '\0' && line[same + length] != '\r'
                && line[same + length] != '\n')
                ++length;
            lstrcpynA(path, line + same, length + 1 < MAX_PATH ? length + 1 : MAX_PATH);
            return;
        }
        while (*line != '\0' && *line != '\n')
            ++line;
        if (*line == '\n')
            ++line;
    }
}

} // namespace

int CustomerWindow()
{
    CaptureOutput(doctorText, sizeof doctorText);
    Report report;
    RepairPlan plan = {};
    CheckEntry(FindExtensionName, report, plan);
    int code = SumUp(FindExtensionName, report);

    char text[2048] = {};
    if (code == Success) {
        FormatText(text, sizeof text,
            "The Kestrovane search entry is set up and works: you find it in the Find or Search "
            "menu of the Start menu.");
    } else if (report.Repairable()) {
        FormatText(text, sizeof text,
            "%s\n\nThis program can mend it now. It first saves the present settings in a file, "
            "so that nothing is lost.\n\nMend it now?",
            Problem(code));
        if (Ask(text, MB_YESNO | MB_ICONQUESTION) == IDYES) {
            Print("\n");
            code = Repair(FindExtensionName, false);
            char backup[MAX_PATH] = {};
            BackupPathIn(doctorText, backup);
            if (code == Success)
                FormatText(text, sizeof text,
                    "The search entry is mended: you find it in the Find or Search menu of the "
                    "Start menu.\n\nThe settings as they were are saved in:\n%s",
                    backup);
            else if (backup[0] != '\0')
                FormatText(text, sizeof text,
                    "The search entry is not mended. The settings as they were are saved in:\n%s"
                    "\n\nPlease send the report to support.",
                    backup);
            else
                FormatText(text, sizeof text,
                    "The search entry is not mended, and nothing was changed. Please send the "
                    "report to support.");
        } else {
            FormatText(text, sizeof text, "Nothing was changed.");
        }
    } else {
        FormatText(text, sizeof text, "%s\n\n%s", Problem(code), WhoCanMend(code, plan));
    }

    char question[3072] = {};
    FormatText(
        question, sizeof question, "%s\n\nSave a report of the checks, to send to support?", text);
    if (Ask(question, MB_YESNO | (code == Success ? MB_ICONINFORMATION : MB_ICONWARNING))
        == IDYES) {
        char path[MAX_PATH] = {};
        if (SaveReport(path))
            FormatText(text, sizeof text,
                "The report is saved as:\n%s\n\nSend this file to support.", path);
        else
            FormatText(text, sizeof text, "The report could not be saved as:\n%s", path);
        Ask(text, MB_OK | MB_ICONINFORMATION);
    }
    return code;
}
