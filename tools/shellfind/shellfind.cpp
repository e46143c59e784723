// A stand-in for the Windows shell's Find/Search menu. It lists the find extensions registered
// under FindExtensions\Static the way the shell reads them, and invokes one through COM the way
// the shell does, honouring what the shell honours first (a menu text, the Blocked and Approved
// lists). Useful on a customer's Windows too: it depends on nothing but Windows, from Windows 95.
//
//   shellfind list            every entry: key, class, menu text, icon path, module path
//   shellfind invoke NAME     CoCreateInstance, Initialize, QueryContextMenu, InvokeCommand
//   shellfind menu [SECONDS]  the entries as a popup menu, drawn as the shell draws them, for
//                             SECONDS (default 5) or until one is picked, which is then invoked
//   shellfind doctor [NAME]   why the entry (default Orbelquest) does not show or does not work:
//                             one line per check; exit 0 only when all is well (exit_codes.h)
//   shellfind repair [--dry-run] [NAME]
//                             the doctor, what it says this user may mend (after a REGEDIT4
//                             backup), then the doctor again
//   shellfind register [MODULE], shellfind unregister [MODULE]
//                             the module's own DllRegisterServer / DllUnregisterServer
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include "console.h"
#ifdef KV_CUSTOMER_WINDOW
#include "customer_window.h"
#endif
#include "doctor.h"
#include "exit_codes.h"
#include "find_entries.h"
#include "find_menu.h"
#include "registration_call.h"
#include "repair.h"
#include "shell_paths.h"
#include "kvshellsearch.h"
#include "shell_policy.h"

#ifdef KV_STACK_GUARD
#include "stack_guard.h"
#endif

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

// Why the shell would not load the entry's class, or null when it would.
const char* PolicyRefusal(const FindEntry& entry)
{
    ShellPolicy policy = {};
    ReadShellPolicy(entry.classId, 0, policy);
    if (policy.blocked)
        return "BLOCKED";
    if (!policy.Allows())
        return "NOT APPROVED";
    return nullptr;
}

int List()
{
    FindEntry entries[64]; // on the stack: a static one would be stored in the file
    int count = ReadFindEntries(entries, ARRAYSIZE(entries));
    if (count == 0) {
        Print("No find extensions are registered under HKLM\\%s\n", FindExtensionsStaticKey);
        return Success;
    }
    int broken = 0;
    for (int i = 0; i < count; ++i) {
        const FindEntry& entry = entries[i];
        bool iconLoads = IconLoads(entry.iconPath);
        const char* refusal = PolicyRefusal(entry);
        Print("%s\n", entry.name);
        Print("  class:       %s%s%s%s\n", entry.classId,
            entry.classRegistered ? "" : "  (NOT REGISTERED)", refusal != nullptr ? "  " : "",
            refusal != nullptr ? refusal : "");
        Print("  display:     %s\n", entry.className);
        Print("  module:      %s\n", entry.modulePath);
        Print("  menu text:   %s%s\n", entry.menuText,
            entry.menuText[0] == '\0' ? "(NONE: THE SHELL DOES NOT SHOW IT)" : "");
        Print("  icon:        %s (%s)\n", entry.iconPath, iconLoads ? "loads" : "DOES NOT LOAD");
        if (!entry.classRegistered || !iconLoads || refusal != nullptr || entry.menuText[0] == '\0')
            ++broken;
    }
    if (broken != 0)
        Print("%d of %d entries are broken\n", broken, count);
    return broken != 0 ? BrokenEntry : Success;
}

int Fail(ExitCode code, const char* what, HRESULT result)
{
    char message[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(result), 0, message, sizeof message - 1, nullptr);
    PrintError("%s (0x%08lX) %s\n", what, static_cast<unsigned long>(result), message);
    return code;
}

// What the shell checks before it creates the class: the entry shows (it has a menu text), the
// policy lets the class load, and the module is where the shell's process looks.
int RefuseAsTheShell(const FindEntry& entry)
{
    if (entry.menuText[0] == '\0') {
        PrintError("Entry %s has no menu text: the shell does not show it\n", entry.name);
        return MenuTextWrong;
    }
    const char* refusal = PolicyRefusal(entry);
    if (refusal != nullptr) {
        PrintError("The shell does not load the class %s: %s (see shellfind doctor)\n",
            entry.classId, refusal);
        return ShellExtensionPolicy;
    }
    char found[PathTextSize] = {};
    if (entry.modulePath[0] != '\0' && !IsFullPath(entry.modulePath)
        && !FindModuleAsTheShell(entry.modulePath, found)) {
        PrintError("The class's module \"%s\" is no full path, and the shell's own directories "
                   "hold no such file\n",
            entry.modulePath);
        return ClassNotRegistered;
    }
    return Success;
}

int Invoke(const char* name)
{
    FindEntry entries[64]; // on the stack: a static one would be stored in the file
    int count = ReadFindEntries(entries, ARRAYSIZE(entries));
    const FindEntry* entry = nullptr;
    for (int i = 0; i < count; ++i) {
        if (lstrcmpiA(entries[i].name, name) == 0)
            entry = &entries[i];
    }
    if (entry == nullptr) {
        PrintError("No find extension named %s is registered\n", name);
        return EntryNotFound;
    }

    CLSID classId;
    wchar_t wideClassId[64] = {};
    MultiByteToWideChar(CP_ACP, 0, entry->classId, -1, wideClassId, ARRAYSIZE(wideClassId));
    if (FAILED(CLSIDFromString(wideClassId, &classId))) {
        PrintError("Entry %s names no valid class: \"%s\"\n", name, entry->classId);
        return ClassNotRegistered;
    }
    const int refused = RefuseAsTheShell(*entry);
    if (refused != Success)
        return refused;

    // The shell runs from the Windows directory: what the module starts by a relative name is
    // looked for there, not in whatever directory shellfind was started from.
    char shell[MAX_PATH] = {};
    GetShellDirectory(shell);
    SetCurrentDirectoryA(shell);

    CoInitialize(nullptr);
    int code = Success;
    IShellExtInit* init = nullptr;
    HRESULT result = CoCreateInstance(
        classId, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, reinterpret_cast<void**>(&init));
    if (result == REGDB_E_CLASSNOTREG) {
        code = Fail(ClassNotRegistered, "The entry's class is not registered", result);
    } else if (FAILED(result)) {
        Print("module: %s\n", entry->modulePath);
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
            Print("Invoked %s (\"%s\"): the command was started\n", name, entry->menuText);
        if (menu != nullptr)
            menu->Release();
        init->Release();
    }
    CoUninitialize();
    return code;
}

bool Is(const char* argument, const char* word)
{
    return lstrcmpA(argument, word) == 0;
}

constexpr char UsageText[]
    = "usage: shellfind list | invoke NAME | menu [SECONDS] | doctor [NAME]\n"
      "                 | repair [--dry-run] [NAME] | register [MODULE] | unregister [MODULE]\n";

constexpr char HelpText[]
    = "  list                  every entry of the shell's Find/Search menu, and what is broken\n"
      "  invoke NAME           picks the entry NAME as the shell does\n"
      "  menu [SECONDS]        the entries as the shell's menu draws them (default 5 seconds)\n"
      "  doctor [NAME]         why the entry (default Orbelquest) does not show or does not\n"
      "                        work; exit code 0 only when it shows and works\n"
      "  repair [--dry-run] [NAME]\n"
      "                        the doctor; where this user may mend every fault, mends them\n"
      "                        after writing a REGEDIT4 backup (printed as backup: PATH), then\n"
      "                        the doctor again, whose exit code it returns; --dry-run changes\n"
      "                        nothing\n"
      "  register [MODULE]     calls the module's own DllRegisterServer, as regsvr32 does;\n"
      "                        MODULE defaults to the one beside the player (MainApp)\n"
      "  unregister [MODULE]   calls its DllUnregisterServer; MODULE defaults to the one\n"
      "                        registered for the class, else the one beside the player\n"
      "  --help, -h            this text\n";

int Main(int argc, char** argv)
{
    if (argc == 2 && (Is(argv[1], "--help") || Is(argv[1], "-h") || Is(argv[1], "/?"))) {
        Print("%s%s", UsageText, HelpText);
        return Success;
    }
    if (argc == 2 && Is(argv[1], "list"))
        return List();
    if (argc == 3 && Is(argv[1], "invoke"))
        return Invoke(argv[2]);
    if ((argc == 2 || argc == 3) && Is(argv[1], "doctor"))
        return Doctor(argc == 3 ? argv[2] : FindExtensionName);
    if (argc >= 2 && argc <= 4 && Is(argv[1], "repair")) {
        const bool dryRun = argc >= 3 && Is(argv[2], "--dry-run");
        const int named = dryRun ? 3 : 2;
        if (argc <= named + 1 && (argc == named || argv[named][0] != '-'))
            return Repair(argc == named + 1 ? argv[named] : FindExtensionName, dryRun);
    }
    if ((argc == 2 || argc == 3) && (Is(argv[1], "register") || Is(argv[1], "unregister")))
        return RegistrationCommand(argc == 3 ? argv[2] : nullptr,
            Is(argv[1], "register") ? RegistrationCall::Register : RegistrationCall::Unregister);
    if ((argc == 2 || argc == 3) && Is(argv[1], "menu")) {
        char picked[256] = {};
        int seconds = 0;
        for (const char* digit = argc == 3 ? argv[2] : "5";
             *digit >= '0' && *digit <= '9' && seconds < 3600; ++digit)
            seconds = seconds * 10 + (*digit - '0');
        if (!ShowFindMenu(seconds > 0 ? seconds : 5, picked, sizeof picked))
            return Success;
        return Invoke(picked);
    }
    PrintError("%s(shellfind --help says what each does)\n", UsageText);
    return Usage;
}

// The command line split as the C runtime would for the simple words shellfind takes: at spaces
// and tabs outside double quotes, the quotes removed.
int SplitCommandLine(char* line, char** argv, int capacity)
{
    int argc = 0;
    char* read = line;
    while (*read != '\0' && argc < capacity) {
        while (*read == ' ' || *read == '\t')
            ++read;
        if (*read == '\0')
            break;
        char* write = read;
        argv[argc++] = write;
        bool quoted = false;
        for (; *read != '\0' && (quoted || (*read != ' ' && *read != '\t')); ++read) {
            if (*read == '"')
                quoted = !quoted;
            else
                *write++ = *read;
        }
        if (*read != '\0')
            ++read;
        *write = '\0';
    }
    return argc;
}

} // namespace

// The program's entry point: no C runtime start-up runs before it.
extern "C" __attribute__((no_stack_protector)) void ShellfindStart()
{
#ifdef KV_STACK_GUARD
    InitializeStackGuard();
#endif
    static char line[4096];
    lstrcpynA(line, GetCommandLineA(), sizeof line);
    char* argv[8] = {};
    int argc = SplitCommandLine(line, argv, ARRAYSIZE(argv) - 1);
#ifdef KV_CUSTOMER_WINDOW
    // The windowed build, double-clicked or started from Start > Run: the customer's window.
    // With arguments it is shellfind, without a console to print to.
    if (argc <= 1)
        ExitProcess(static_cast<UINT>(CustomerWindow()));
#endif
    ExitProcess(static_cast<UINT>(Main(argc, argv)));
}
