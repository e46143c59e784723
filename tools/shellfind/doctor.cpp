#include "doctor.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include "console.h"
#include "exit_codes.h"
#include "find_entries.h"
#include "kvshellsearch.h"
#include "launch.h"
#include "module_file.h"
#include "preferences.h"
#include "registration_rules.h"
#include "registry_text.h"
#include "report.h"
#include "shell_paths.h"
#include "shell_policy.h"
#include "text.h"

namespace {

constexpr char OurClassId[] = "{5E3C1A77-0B94-4F2D-9A61-7C2E8D40B513}";
constexpr char AdministratorFix[] = "only an administrator of this machine (or the domain's group "
                                    "policy) can change this";

struct View {
    const char* label;
    REGSAM flag; // 0 on a 32-bit system
    int bits;
    bool native; // the view the system's own shell reads: only its faults are counted
    const char* moduleFile; // the module file name registration writes for this bitness
};

// What the doctor learned of the player's preferences in one view, as the module reads them.
struct Preferences {
    char product[ShortTextSize];
    TextReadFacts mainAppRead;
    char mainApp[TextBufferSize]; // as registration reads it
    char registerFix[2 * TextBufferSize]; // how to register the module again, as a command
};

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
bool StartPanelIsOn()
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
        report.Fault(true, NoFindMenu, "run the doctor on the customer's Windows itself", "system",
            "the Windows version cannot be read");
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
        report.Fault(true, NoFindMenu,
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

// Why the module's read gave nothing, in the words of the doctor's other reads.
const char* Describe(TextReadFacts read, char* phrase, size_t size)
{
    if (read.result == TextReadResult::TooLong) {
        FormatText(
            phrase, size, "is too long for the module's buffer (%lu bytes stored)", read.size);
        return phrase;
    }
    // In TextReadResult's order.
    const ReadResult same[] = {ReadResult::Ok, ReadResult::NoKey, ReadResult::KeyRefused,
        ReadResult::NoValue, ReadResult::TooLong, ReadResult::Failed};
    DescribeReadFailure(same[static_cast<int>(read.result)], read.type, read.error, phrase, size);
    return phrase;
}

// The product name the module files its preferences under, by the module's own rule: its slot,
// else the variable named after the shell's executable, else the default.
void ProductNameOf(const ModuleFileFacts& module, char* product)
{
    char shell[MAX_PATH + 16] = {};
    GetShellDirectory(shell);
    lstrcatA(shell, "\\explorer.exe");
    ResolveProductName(
        module.exists && module.isImage ? module.productName : DefaultProductName, shell, product);
}

void ReadPreferences(
    const View& view, const ModuleFileFacts& module, bool is64Bit, Preferences& preferences)
{
    ProductNameOf(module, preferences.product);
    preferences.mainAppRead = ReadMainApp(
        preferences.product, view.flag, preferences.mainApp, sizeof preferences.mainApp);
    char modulePath[TextBufferSize] = {};
    const bool readable = preferences.mainAppRead.result == TextReadResult::Read;
    const bool fits = readable
        && SUCCEEDED(MakeRegisteredModulePath(preferences.mainApp, view.moduleFile, modulePath));
    const char* regsvr32
        = view.bits == 32 && is64Bit ? "%SystemRoot%\\SysWOW64\\regsvr32.exe" : "regsvr32";
    if (!fits) {
        FormatText(preferences.registerFix, sizeof preferences.registerFix,
            "mend the player's path first (HKCR\\...\\Preferences\\MainApp, see its line), then "
            "register the module again with %s",
            regsvr32);
    } else if (FileExists(modulePath)) {
        FormatText(preferences.registerFix, sizeof preferences.registerFix,
            "register the module again: %s \"%s\"", regsvr32, modulePath);
    } else {
        FormatText(preferences.registerFix, sizeof preferences.registerFix,
            "repair the player's installation, which puts \"%s\" back, or copy %s there; then "
            "register it: %s \"%s\"",
            modulePath, view.moduleFile, regsvr32, modulePath);
    }
}

// Whether the player starts: the module's own command line, and the program it names.
void CheckPlayer(Report& report, const View& view, const Preferences& preferences)
{
    const char* fix = "repair the player's installation (it writes this preference), or set "
                      "HKCR\\...\\Preferences\\MainApp as a REG_SZ to the player's full path";
    char key[TextBufferSize] = {};
    FormatPreferenceKeyPath(MainAppKeyTemplate, preferences.product, key);
    const PlayerCommand command = MakePlayerCommand(preferences.product, view.flag);
    if (command.outcome == PlayerCommand::NoPath) {
        char phrase[160];
        report.Fault(view.native, PreferencesBroken, fix, view.label,
            "the player's path (HKCR\\%s) %s: the module starts nothing", key,
            Describe(command.read, phrase, sizeof phrase));
        return;
    }
    if (command.outcome == PlayerCommand::TooLong) {
        report.Fault(view.native, PreferencesBroken, "install the player in a shorter path",
            view.label,
            "the player's path is too long: with its quotes and \" /search\" it does not fit "
            "the module's %lu characters",
            static_cast<unsigned long>(TextBufferSize - 1));
        return;
    }
    const char* path = command.text + 1;
    char program[PathTextSize] = {};
    char found[PathTextSize] = {};
    if (!FindProgramOfCommandLine(command.Line(), program, found)) {
        const bool openQuote = path[0] == '"' && FindChar(path + 1, '"') == nullptr;
        const bool unexpanded = command.read.type == REG_EXPAND_SZ && FindChar(path, '%');
        report.Fault(view.native, PreferencesBroken, fix, view.label,
            "the module starts %s, and there is no program \"%s\"%s", command.Line(), program,
            openQuote        ? ": the path opens a quote and never closes it"
                : unexpanded ? ": the value is a REG_EXPAND_SZ, and the module does not expand it"
                             : "");
        return;
    }
    ModuleFileFacts image = {};
    ReadModuleFileFacts(found, image);
    if (!image.isImage || MachineBits(image.machine) == 0) {
        report.Fault(view.native, PreferencesBroken, fix, view.label,
            "the module starts %s, but \"%s\" is not a Windows program", command.Line(), found);
        return;
    }
    report.Ok(view.label, "the player starts: %s", command.Line());
    if (command.read.type != REG_SZ)
        report.Note(view.label,
            "the player's path is stored as %s; the module reads it as it is, but the player's "
            "installer writes a REG_SZ",
            TypeName(command.read.type));
}

// The menu text registration would write now: string 1 or 3 of the satellite, by the module's
// own reading and fallback, else of the module itself. Empty when those texts lack it.
struct ExpectedText {
    bool known; // false when no texts could be read
    bool fromTranslation;
    UINT id;
    char text[TextBufferSize];
};

void ReadExpectedMenuText(Report& report, const View& view, const Preferences& preferences,
    const char* ownModule, ExpectedText& expected)
{
    expected = ExpectedText();
    HMODULE texts = nullptr;
    char satellite[SatellitePathBlockSize] = {};
    const TextReadFacts read = ReadSatellitePath(preferences.product, view.flag, satellite);
    if (read.result == TextReadResult::Read) {
        texts = LoadLibraryExA(satellite, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (texts == nullptr)
            report.Note(view.label,
                "the translation \"%s\" does not load (error %lu): the module uses its own "
                "texts%s",
                satellite, GetLastError(),
                read.type == REG_EXPAND_SZ ? " (the value is a REG_EXPAND_SZ, which the module "
                                             "does not expand)"
                                           : "");
    } else if (read.result != TextReadResult::NoKey && read.result != TextReadResult::NoValue) {
        char phrase[160];
        report.Note(view.label, "the translation's path %s: the module uses its own texts",
            Describe(read, phrase, sizeof phrase));
    }
    expected.fromTranslation = texts != nullptr;
    if (texts == nullptr && ownModule[0] != '\0')
        texts = LoadLibraryExA(ownModule, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (texts == nullptr)
        return;
    expected.known = true;
    expected.id = MenuTextIdForThisSystem();
    if (LoadStringA(texts, expected.id, expected.text, sizeof expected.text) <= 0)
        expected.text[0] = '\0';
    FreeLibrary(texts);
    if (expected.text[0] == '\0')
        report.Note(view.label,
            "the %s lacks string %u: registering the module writes an empty menu text, and the "
            "shell shows no entry without one",
            expected.fromTranslation ? "translation" : "module", expected.id);
}

// Whether the entry shows: the shell lists an entry only with a menu text. A text other than
// the one registration writes now still shows, and is a note.
void CheckMenuText(Report& report, const View& view, const char* entryKey,
    const ExpectedText& expected, const char* registerFix)
{
    char path[1200] = {};
    FormatText(path, sizeof path, "%s\\0", entryKey);
    RegistryText menu = {};
    ReadRegistryText(HKEY_LOCAL_MACHINE, path, "", view.flag, menu);
    const bool usable = menu.result == ReadResult::Ok || menu.result == ReadResult::Unterminated;
    if (!usable || menu.text[0] == '\0') {
        char why[160] = {};
        if (usable)
            FormatText(why, sizeof why, "is empty");
        else
            DescribeReadFailure(menu.result, menu.type, menu.error, why, sizeof why);
        const bool registeringHelps = !expected.known || expected.text[0] != '\0';
        char fix[3 * TextBufferSize] = {};
        if (registeringHelps)
            lstrcpynA(fix, registerFix, sizeof fix);
        else if (expected.fromTranslation)
            FormatText(fix, sizeof fix,
                "delete HKCR\\...\\SatelliteShellSearch (or point it at a complete "
                "translation), then %s",
                registerFix);
        else
            lstrcpynA(
                fix, "repair the player's installation: the module lacks its texts", sizeof fix);
        report.Fault(view.native, MenuTextWrong, fix, view.label,
            "the menu text (HKLM\\%s) %s: the shell shows no entry without one", path, why);
        return;
    }
    report.Ok(view.label, "the entry shows as \"%s\"", menu.text);
    if (menu.result == ReadResult::Unterminated)
        report.Note(view.label, "the menu text is stored without its terminating zero");
    if (expected.text[0] != '\0' && lstrcmpA(menu.text, expected.text) != 0)
        report.Note(view.label,
            "the menu text is \"%s\"; registration writes \"%s\" on this system now -- to show "
            "that, %s",
            menu.text, expected.text, registerFix);
}

// The module as the shell's COM would load it, and its class object.
void CheckClassObject(
    Report& report, const View& view, const char* modulePath, const CLSID& classId)
{
    // As COM loads an in-process server: the module's own directory first for what it imports.
    HMODULE module = LoadLibraryExA(modulePath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    char fix[2 * PathTextSize] = {};
    FormatText(fix, sizeof fix,
        "replace \"%s\" with the player's %d-bit %s: repair the player's installation, or copy "
        "the file from the player's package",
        modulePath, view.bits, view.moduleFile);
    if (module == nullptr) {
        report.Fault(view.native, ModuleNotLoaded, fix, view.label,
            "the module \"%s\" does not load (error %lu)", modulePath, GetLastError());
        return;
    }
    typedef HRESULT(STDAPICALLTYPE * GetClassObjectFunction)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObjectFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    HRESULT result = getClassObject != nullptr
        ? getClassObject(classId, IID_IClassFactory, reinterpret_cast<void**>(&factory))
        : E_NOINTERFACE;
    if (FAILED(result) || factory == nullptr) {
        report.Fault(view.native, ModuleNotLoaded, fix, view.label,
            "the module \"%s\" loads but gives no class object (0x%08lX)", modulePath,
            static_cast<unsigned long>(result));
        return;
    }
    factory->Release();
    // Left loaded: a foreign module may still run code of its own.
    report.Ok(view.label, "the module loads and gives the class object");
}

// The class's module file, found as the shell finds it. False when nothing more can be checked.
bool CheckServer(Report& report, const View& view, const char* classId, const char* registerFix,
    ModuleFileFacts& facts, char* modulePath)
{
    char path[256] = {};
    FormatText(path, sizeof path, "CLSID\\%s\\InProcServer32", classId);
    RegistryText server = {};
    ReadRegistryText(HKEY_CLASSES_ROOT, path, "", view.flag, server);
    if (server.result != ReadResult::Ok) {
        char why[160];
        DescribeReadFailure(server.result, server.type, server.error, why, sizeof why);
        report.Fault(view.native, ClassNotRegistered, registerFix, view.label,
            "the class's module (HKCR\\%s) %s", path, why);
        return false;
    }
    if (!FindModuleAsTheShell(server.text, modulePath)) {
        report.Fault(view.native, ClassNotRegistered, registerFix, view.label,
            IsFullPath(server.text)
                ? "the class's module \"%s\" does not exist"
                : "the class's module \"%s\" is no full path, and the shell finds no such file in "
                  "its own directories (Windows, System, PATH)",
            server.text);
        return false;
    }
    ReadModuleFileFacts(modulePath, facts);
    char replaceFix[2 * PathTextSize] = {};
    FormatText(replaceFix, sizeof replaceFix,
        "replace \"%s\" with the player's %d-bit %s: repair the player's installation, or copy "
        "the file from the player's package",
        modulePath, view.bits, view.moduleFile);
    if (!facts.isImage) {
        report.Fault(view.native, ClassNotRegistered, replaceFix, view.label,
            "the class's module \"%s\" is not a Windows module", modulePath);
        return false;
    }
    if (MachineBits(facts.machine) != view.bits) {
        report.Fault(view.native, ClassNotRegistered, replaceFix, view.label,
            "the class's module \"%s\" is %s, but only a %d-bit module loads from this view",
            modulePath, MachineBitness(facts.machine), view.bits);
        return false;
    }
    report.Ok(
        view.label, "the class's module is \"%s\" (%s)", modulePath, MachineBitness(facts.machine));

    RegistryText model = {};
    ReadRegistryText(HKEY_CLASSES_ROOT, path, "ThreadingModel", view.flag, model);
    if (model.result != ReadResult::Ok || lstrcmpiA(model.text, "Apartment") != 0) {
        report.Fault(view.native, ClassNotRegistered, registerFix, view.label,
            "the class's ThreadingModel is \"%s\", not \"Apartment\"", model.text);
        return false;
    }
    report.Ok(view.label, "the class's ThreadingModel is Apartment");
    return true;
}

// What the shell honours before it loads the class, read as list, invoke and menu read it.
void CheckPolicy(Report& report, const View& view, const char* classId)
{
    ShellPolicy policy = {};
    ReadShellPolicy(classId, view.flag, policy);
    if (policy.blocked) {
        report.Fault(view.native, ShellExtensionPolicy, AdministratorFix, view.label,
            "the class %s is blocked (%s\\%s): the shell does not load it", classId,
            policy.blockedBy, BlockedKey);
    } else {
        report.Ok(view.label, "the class is not blocked");
    }
    if (policy.blockedUnreadable)
        report.Note(view.label,
            "a list of blocked shell extensions (%s) cannot be read by this user: the shell, "
            "running as this user, cannot read it either",
            BlockedKey);
    if (policy.policyMalformed)
        report.Note(view.label,
            "the policy %s\\%s\\%s is stored as %s, not REG_DWORD; whether the shell honours it "
            "is not documented, so it is taken as set",
            policy.enforcedBy, PoliciesKey, PolicyValueName, TypeName(policy.policyType));
    if (!policy.enforced) {
        report.Ok(view.label, "approval of shell extensions is not enforced");
    } else if (policy.approved) {
        report.Ok(view.label, "approval is enforced (%s) and the class is approved (HKLM)",
            policy.enforcedBy);
    } else {
        report.Fault(view.native, ShellExtensionPolicy,
            "an administrator must add a value named after the class to HKLM\\...\\Shell "
            "Extensions\\Approved (the player's installer writes it when run by one)",
            view.label,
            "approval of shell extensions is enforced (%s) and the class %s is not approved by "
            "the machine%s",
            policy.enforcedBy, classId,
            policy.approvedByUserOnly
                ? ": only this user's Approved key names it, which is not documented to count"
                : policy.approvedUnreadable ? ": the machine's Approved key cannot be read"
                                            : "");
    }
}

void CheckIcon(Report& report, const View& view, const char* entryKey, const char* fix)
{
    char path[1200] = {};
    FormatText(path, sizeof path, "%s\\0\\DefaultIcon", entryKey);
    RegistryText icon = {};
    ReadRegistryText(HKEY_LOCAL_MACHINE, path, "", view.flag, icon);
    // "file,index", as the shell reads it; our registration writes the file alone.
    char file[TextBufferSize] = {};
    lstrcpynA(file, icon.text, sizeof file);
    int index = 0;
    char* comma = const_cast<char*>(FindLastChar(file, ','));
    if (comma != nullptr && comma[1] != '\0') {
        bool number = true;
        int value = 0;
        const char* digit = comma[1] == '-' ? comma + 2 : comma + 1;
        for (; *digit != '\0'; ++digit) {
            number = number && *digit >= '0' && *digit <= '9';
            value = value * 10 + (*digit - '0');
        }
        if (number) {
            index = comma[1] == '-' ? -value : value;
            *comma = '\0';
        }
    }
    HICON small = nullptr;
    if (icon.result != ReadResult::Ok || ExtractIconExA(file, index, nullptr, &small, 1) == 0
        || small == nullptr) {
        report.Note(view.label,
            "no icon can be extracted from \"%s\": the entry shows without one -- to mend it, %s",
            icon.text, fix);
        return;
    }
    DestroyIcon(small);
    report.Ok(view.label, "the icon comes from \"%s\"", icon.text);
}

void CheckView(Report& report, const View& view, const char* name, bool is64Bit)
{
    char entryKey[600] = {};
    FormatText(entryKey, sizeof entryKey, "%s\\%s", FindExtensionsStaticKey, name);
    RegistryText entry = {};
    ReadRegistryText(HKEY_LOCAL_MACHINE, entryKey, "", view.flag, entry);
    if (entry.result == ReadResult::NoKey && !view.native) {
        report.Ok(view.label, "no entry %s here: nothing to check (the shell reads the other view)",
            name);
        return;
    }
    const bool ours = entry.result == ReadResult::Ok && lstrcmpiA(entry.text, OurClassId) == 0;

    // Our module's file tells the product name the preferences are filed under, and holds the
    // texts registration writes when no translation is used.
    char ourModule[PathTextSize] = {};
    ModuleFileFacts facts = {};
    Preferences preferences = {};
    {
        char server[TextBufferSize] = {};
        FormatText(server, sizeof server, "CLSID\\%s\\InProcServer32", OurClassId);
        RegistryText registered = {};
        ReadRegistryText(HKEY_CLASSES_ROOT, server, "", view.flag, registered);
        if (registered.result != ReadResult::Ok
            || !FindModuleAsTheShell(registered.text, ourModule))
            ourModule[0] = '\0';
        if (ourModule[0] != '\0')
            ReadModuleFileFacts(ourModule, facts);
        ReadPreferences(view, facts, is64Bit, preferences);
    }
    const char* registerFix = preferences.registerFix;

    if (entry.result != ReadResult::Ok) {
        char why[160];
        DescribeReadFailure(entry.result, entry.type, entry.error, why, sizeof why);
        report.Fault(view.native, EntryNotFound,
            entry.result == ReadResult::KeyRefused ? AdministratorFix : registerFix, view.label,
            "the entry HKLM\\%s %s", entryKey, why);
        return;
    }
    CLSID classId = {};
    wchar_t wideClassId[64] = {};
    MultiByteToWideChar(CP_ACP, 0, entry.text, -1, wideClassId, 63);
    if (TextLength(entry.text) != 38 || FAILED(CLSIDFromString(wideClassId, &classId))) {
        report.Fault(view.native, ClassNotRegistered, registerFix, view.label,
            "the entry %s names no class: \"%s\"", name, entry.text);
        return;
    }
    report.Ok(view.label, "the entry %s names the class %s", name, entry.text);

    ExpectedText expected = {};
    if (ours)
        ReadExpectedMenuText(report, view, preferences, ourModule, expected);
    CheckMenuText(report, view, entryKey, expected, registerFix);
    CheckPolicy(report, view, entry.text);
    char modulePath[PathTextSize] = {};
    facts = ModuleFileFacts();
    if (CheckServer(report, view, entry.text, registerFix, facts, modulePath)) {
        const int ownBits = static_cast<int>(sizeof(void*) * 8);
        if (MachineBits(facts.machine) == ownBits) {
            CheckClassObject(report, view, modulePath, classId);
        } else {
            report.Skip(view.label,
                "the module is not loaded: a %d-bit doctor cannot load a %d-bit module; run the "
                "%d-bit shellfind doctor for it",
                ownBits, MachineBits(facts.machine), MachineBits(facts.machine));
        }
    }
    CheckIcon(report, view, entryKey, registerFix);
    if (ours)
        CheckPlayer(report, view, preferences);
}

} // namespace

int Doctor(const char* name)
{
    const bool is64Bit = SystemIs64Bit();
    Report report;
    if (CheckSystem(report, is64Bit)) {
        CoInitialize(nullptr);
        if (is64Bit) {
            const View views[] = {{"64-bit view", KEY_WOW64_64KEY, 64, true, ModuleFileName64},
                {"32-bit view", KEY_WOW64_32KEY, 32, false, ModuleFileName32}};
            for (const View& view : views)
                CheckView(report, view, name, is64Bit);
        } else {
            CheckView(report, {"registry", 0, 32, true, ModuleFileName32}, name, is64Bit);
        }
        CoUninitialize();
    }
    const int code = report.ExitCode();
    if (report.Faults() != 0)
        Print("%s: %d fault%s; exit code %d, that of the first\n", name, report.Faults(),
            report.Faults() == 1 ? "" : "s", code);
    else if (report.Skips() != 0)
        Print("%s: no fault found, but %d check%s could not be made here (see skip); exit code "
              "%d\n",
            name, report.Skips(), report.Skips() == 1 ? " that the verdict needs" : "s", code);
    else
        Print("%s: every check is ok: the entry shows and works on this system\n", name);
    return code;
}
