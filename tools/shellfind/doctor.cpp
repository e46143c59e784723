#include "doctor.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "exit_codes.h"
#include "find_entries.h"
#include "module_file.h"
#include "registry_text.h"

namespace {

constexpr char OurClassId[] = "{5E3C1A77-0B94-4F2D-9A61-7C2E8D40B513}";
constexpr char DefaultProductName[] = "Kestrovane";
constexpr char PreferenceTemplate[] = "Software\\Tessalquorin\\%s\\6.0\\Preferences\\%s";
constexpr char PoliciesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr char PolicyValue[] = "EnforceShellExtensionSecurity";
constexpr char ApprovedKey[]
    = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
constexpr char BlockedKey[]
    = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Blocked";
// The module reads the satellite's path into 260 bytes, its terminating zero included.
constexpr size_t SatellitePathLimit = 259;
constexpr char SearchSwitch[] = " /search";

struct View {
    const char* label;
    REGSAM flag; // 0 on a 32-bit system
    int bits;
    bool native; // the view the system's own shell reads
};

// Lines go out as they are found; the first fault decides the exit code.
class Report {
public:
    template <typename... Arguments>
    void Ok(const char* scope, const char* format, Arguments... arguments)
    {
        Line("ok   ", scope, nullptr, format, arguments...);
    }
    template <typename... Arguments>
    void Skip(const char* scope, const char* format, Arguments... arguments)
    {
        Line("skip ", scope, nullptr, format, arguments...);
    }
    template <typename... Arguments>
    void Fault(ExitCode code, const char* fix, const char* scope, const char* format,
        Arguments... arguments)
    {
        Line("FAULT", scope, fix, format, arguments...);
        if (faults_++ == 0)
            firstFault_ = code;
    }
    int Faults() const { return faults_; }
    int ExitCode() const { return firstFault_; }

private:
    template <typename... Arguments>
    static void Line(const char* status, const char* scope, const char* fix, const char* format,
        Arguments... arguments)
    {
        char text[4096] = {};
        snprintf(text, sizeof text - 1, format, arguments...);
        if (fix != nullptr)
            printf("%s %s: %s -- %s\n", status, scope, text, fix);
        else
            printf("%s %s: %s\n", status, scope, text);
    }

    int faults_ = 0;
    int firstFault_ = Success;
};

struct Phrase {
    char text[160];
};

// Why a read (RegistryText or RegistryNumber) gave nothing usable.
template <typename Read> Phrase Why(const Read& read)
{
    Phrase phrase = {};
    DescribeReadFailure(read.result, read.type, read.error, phrase.text, sizeof phrase.text);
    return phrase;
}

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

void CheckSystem(Report& report, bool is64Bit)
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) {
        report.Fault(NoFindMenu, "run the doctor on the customer's Windows itself", "system",
            "the Windows version cannot be read");
        return;
    }
    const unsigned long major = version.dwMajorVersion;
    const unsigned long minor = version.dwMinorVersion;
    if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS
        || (version.dwPlatformId == VER_PLATFORM_WIN32_NT && major < 6)) {
        report.Ok("system", "Windows %lu.%lu, %s: the shell has a Find/Search menu", major, minor,
            is64Bit ? "64-bit" : "32-bit");
        return;
    }
    report.Fault(NoFindMenu,
        "nothing here can be repaired: start the search from the player itself", "system",
        "Windows %lu.%lu has no Find/Search menu (there is none from Windows Vista on): the entry "
        "cannot show on this system",
        major, minor);
}

// The newer shells get string 1, the older ones string 3; as registration decides.
UINT MenuTextId()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version))
        return 3;
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT)
        return version.dwMajorVersion > 4 ? 1 : 3;
    if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
        return version.dwMajorVersion > 3 && version.dwMinorVersion > 10 ? 1 : 3;
    return 3;
}

HMODULE LoadAsResources(const char* path)
{
    return LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

// The player name the module files its preferences under: its own slot, else the variable the
// shell's process would give it, else the default.
void ProductNameOf(const ModuleFileFacts& module, char* name, DWORD size)
{
    if (module.productName[0] != '\0') {
        lstrcpynA(name, module.productName, static_cast<int>(size));
        return;
    }
    DWORD length = GetEnvironmentVariableA("explorer.exe", name, size);
    if (length == 0 || length >= size)
        lstrcpynA(name, DefaultProductName, static_cast<int>(size));
}

const char* StripQuotes(const char* path, char* unquoted, size_t size)
{
    if (path[0] != '"')
        return path;
    lstrcpynA(unquoted, path + 1, static_cast<int>(size));
    char* closing = strchr(unquoted, '"');
    if (closing != nullptr)
        *closing = '\0';
    return unquoted;
}

bool FileExists(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void CheckMainApp(Report& report, const View& view, const char* product)
{
    char path[512] = {};
    snprintf(path, sizeof path, PreferenceTemplate, product, "MainApp");
    RegistryText mainApp = {};
    ReadRegistryText(HKEY_CLASSES_ROOT, path, "", view.flag, mainApp);
    const char* fix = "repair or reinstall the player: its installer writes this preference";
    if (mainApp.result != ReadResult::Ok) {
        report.Fault(PreferencesBroken, fix, view.label, "the player's path (HKCR\\%s) %s", path,
            Why(mainApp).text);
        return;
    }
    char unquoted[RegistryTextSize] = {};
    const char* player = StripQuotes(mainApp.text, unquoted, sizeof unquoted);
    const size_t command
        = strlen(mainApp.text) + (mainApp.text[0] == '"' ? 0 : 2) + sizeof SearchSwitch - 1;
    if (player[0] == '\0' || !FileExists(player)) {
        report.Fault(PreferencesBroken, fix, view.label,
            "the player's path (HKCR\\%s) names \"%s\", which does not exist", path, player);
    } else if (command > RegistryTextSize - 1) {
        report.Fault(PreferencesBroken, "install the player in a shorter path", view.label,
            "the player's path is too long to start it: its command line needs %lu of %lu "
            "characters",
            static_cast<unsigned long>(command), static_cast<unsigned long>(RegistryTextSize - 1));
    } else {
        report.Ok(view.label, "the player is %s", player);
    }
}

// Returns the module that holds the texts registration would write: the satellite when it
// loads, else the module itself (the module falls back the same way).
HMODULE CheckSatellite(Report& report, const View& view, const char* product, HMODULE own)
{
    char path[512] = {};
    snprintf(path, sizeof path, PreferenceTemplate, product, "SatelliteShellSearch");
    RegistryText satellite = {};
    ReadRegistryText(HKEY_CLASSES_ROOT, path, "", view.flag, satellite);
    if (satellite.result == ReadResult::NoKey || satellite.result == ReadResult::NoValue) {
        report.Ok(view.label, "no translation is set: the texts are the module's own");
        return own;
    }
    const char* fix = "set HKCR\\...\\SatelliteShellSearch to the translated module's full path, "
                      "or delete it for the module's own texts, then register again";
    if (satellite.result != ReadResult::Ok) {
        report.Fault(PreferencesBroken, fix, view.label, "the translation's path (HKCR\\%s) %s",
            path, Why(satellite).text);
        return own;
    }
    if (strlen(satellite.text) > SatellitePathLimit) {
        report.Fault(PreferencesBroken, fix, view.label,
            "the translation's path is longer than the %lu characters the module reads",
            static_cast<unsigned long>(SatellitePathLimit));
        return own;
    }
    HMODULE texts = LoadAsResources(satellite.text);
    if (texts == nullptr) {
        report.Fault(PreferencesBroken, fix, view.label,
            "the translation \"%s\" does not load as resources (error %lu)", satellite.text,
            GetLastError());
        return own;
    }
    for (UINT id = 1; id <= 3; ++id) {
        char text[RegistryTextSize] = {};
        if (LoadStringA(texts, id, text, sizeof text) <= 0) {
            report.Fault(PreferencesBroken, "use a translation built from the full string table",
                view.label, "the translation \"%s\" lacks string %u", satellite.text, id);
            return texts;
        }
    }
    report.Ok(view.label, "the translation \"%s\" holds strings 1 to 3", satellite.text);
    return texts;
}

// A text below the entry's key; a fault when it cannot be used.
bool ReadEntryText(Report& report, const View& view, const char* entryKey, const char* subkey,
    ExitCode code, const char* fix, const char* what, RegistryText& value)
{
    char path[1200] = {};
    snprintf(path, sizeof path, "%s\\%s", entryKey, subkey);
    ReadRegistryText(HKEY_LOCAL_MACHINE, path, "", view.flag, value);
    if (value.result == ReadResult::Ok)
        return true;
    report.Fault(code, fix, view.label, "%s (HKLM\\%s) %s", what, path, Why(value).text);
    return false;
}

void CheckMenuText(
    Report& report, const View& view, const char* entryKey, HMODULE texts, const char* registerFix)
{
    RegistryText menu = {};
    if (!ReadEntryText(
            report, view, entryKey, "0", MenuTextWrong, registerFix, "the menu text", menu))
        return;
    char expected[RegistryTextSize] = {};
    const UINT id = MenuTextId();
    if (texts == nullptr) {
        report.Skip(view.label,
            "the menu text \"%s\" is not compared: no module to read the texts from", menu.text);
    } else if (LoadStringA(texts, id, expected, sizeof expected) <= 0 || expected[0] == '\0') {
        report.Fault(MenuTextWrong, "use a module or translation with the full string table",
            view.label, "the menu text would be empty: the texts lack string %u", id);
    } else if (strcmp(menu.text, expected) != 0) {
        report.Fault(MenuTextWrong, registerFix, view.label,
            "the menu text is \"%s\", but registration writes \"%s\" on this system now", menu.text,
            expected);
    } else {
        report.Ok(view.label, "the menu text is \"%s\"", menu.text);
    }
}

void CheckIcon(Report& report, const View& view, const char* entryKey, const char* registerFix)
{
    RegistryText icon = {};
    if (!ReadEntryText(report, view, entryKey, "0\\DefaultIcon", IconNotExtractable, registerFix,
            "the icon", icon))
        return;
    // "file,index", as the shell reads it; our registration writes the file alone.
    char file[RegistryTextSize] = {};
    lstrcpynA(file, icon.text, sizeof file);
    int index = 0;
    char* comma = strrchr(file, ',');
    if (comma != nullptr && comma[1] != '\0'
        && strspn(comma + 1, "-0123456789") == strlen(comma + 1)) {
        index = static_cast<int>(strtol(comma + 1, nullptr, 10));
        *comma = '\0';
    }
    HICON small = nullptr;
    if (ExtractIconExA(file, index, nullptr, &small, 1) == 0 || small == nullptr) {
        report.Fault(IconNotExtractable, registerFix, view.label,
            "no icon can be extracted from \"%s\"", icon.text);
        return;
    }
    DestroyIcon(small);
    report.Ok(view.label, "the icon comes from \"%s\"", icon.text);
}

void CheckClassObject(
    Report& report, const View& view, const char* modulePath, const CLSID& classId)
{
    // As COM loads an in-process server: the module's own directory first for what it imports.
    HMODULE module = LoadLibraryExA(modulePath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const char* fix = "reinstall the player: the module file is damaged or lacks what it needs";
    if (module == nullptr) {
        report.Fault(ModuleNotLoaded, fix, view.label,
            "the module \"%s\" does not load (error %lu)", modulePath, GetLastError());
        return;
    }
    typedef HRESULT(STDAPICALLTYPE * GetClassObjectFunction)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObjectFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (getClassObject == nullptr) {
        report.Fault(ModuleNotLoaded, fix, view.label,
            "the module \"%s\" exports no DllGetClassObject", modulePath);
        return;
    }
    IClassFactory* factory = nullptr;
    HRESULT result = getClassObject(classId, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(result) || factory == nullptr) {
        report.Fault(ModuleNotLoaded, fix, view.label,
            "the module loads but gives no class object (0x%08lX)",
            static_cast<unsigned long>(result));
        return;
    }
    factory->Release();
    // Left loaded: a foreign module may still run code of its own.
    report.Ok(view.label, "the module loads and gives the class object");
}

// The class's module file; false when nothing further can be checked with it.
bool CheckServer(
    Report& report, const View& view, const char* classId, ModuleFileFacts& facts, char* modulePath)
{
    char path[256] = {};
    snprintf(path, sizeof path, "CLSID\\%s\\InProcServer32", classId);
    const char* registerFix = "register the module again, with the regsvr32 of its bitness";
    RegistryText server = {};
    ReadRegistryText(HKEY_CLASSES_ROOT, path, "", view.flag, server);
    if (server.result != ReadResult::Ok) {
        report.Fault(ClassNotRegistered, registerFix, view.label,
            "the class's module (HKCR\\%s) %s", path, Why(server).text);
        return false;
    }
    lstrcpynA(modulePath, server.text, RegistryTextSize);
    ReadModuleFileFacts(modulePath, facts);
    if (!facts.exists) {
        report.Fault(ClassNotRegistered,
            "reinstall the player, or register the module from where it is now", view.label,
            "the class's module \"%s\" does not exist", modulePath);
    } else if (!facts.isImage) {
        report.Fault(ClassNotRegistered, "reinstall the player", view.label,
            "the class's module \"%s\" is not a Windows module", modulePath);
    } else if (MachineBits(facts.machine) != view.bits) {
        report.Fault(ClassNotRegistered,
            "register the module of the view's bitness (kvshellsearch.dll: 32-bit, "
            "kvshellsearch64.dll: 64-bit) with the regsvr32 of that bitness",
            view.label,
            "the class's module \"%s\" is %s, but only a %d-bit module loads from this view",
            modulePath, MachineBitness(facts.machine), view.bits);
    } else {
        report.Ok(view.label, "the class's module is \"%s\" (%s)", modulePath,
            MachineBitness(facts.machine));
    }

    RegistryText model = {};
    ReadRegistryText(HKEY_CLASSES_ROOT, path, "ThreadingModel", view.flag, model);
    if (model.result != ReadResult::Ok)
        report.Fault(ClassNotRegistered, registerFix, view.label, "the class's ThreadingModel %s",
            Why(model).text);
    else if (lstrcmpiA(model.text, "Apartment") != 0)
        report.Fault(ClassNotRegistered, registerFix, view.label,
            "the class's ThreadingModel is \"%s\", not \"Apartment\"", model.text);
    else
        report.Ok(view.label, "the class's ThreadingModel is Apartment");
    return facts.exists && facts.isImage;
}

// Whether a value named after the class is under key, in the machine's view or the user's.
struct Listing {
    bool machine;
    bool user;
    bool unreadable;
};

Listing FindClassUnder(const char* key, const View& view, const char* classId)
{
    Listing listing = {};
    ReadResult machine = RegistryValueState(HKEY_LOCAL_MACHINE, key, classId, view.flag);
    ReadResult user = RegistryValueState(HKEY_CURRENT_USER, key, classId, 0);
    listing.machine = machine == ReadResult::Ok;
    listing.user = user == ReadResult::Ok;
    listing.unreadable = machine == ReadResult::KeyRefused || machine == ReadResult::Failed
        || user == ReadResult::KeyRefused || user == ReadResult::Failed;
    return listing;
}

void CheckPolicy(Report& report, const View& view, const char* classId)
{
    RegistryNumber machine = {};
    RegistryNumber user = {};
    ReadRegistryNumber(HKEY_LOCAL_MACHINE, PoliciesKey, PolicyValue, view.flag, machine);
    ReadRegistryNumber(HKEY_CURRENT_USER, PoliciesKey, PolicyValue, 0, user);
    const char* askFix = "have the administrator set it as a REG_DWORD, 1 or 0";
    const struct {
        const char* root;
        const RegistryNumber& read;
    } policies[] = {{"HKLM", machine}, {"HKCU", user}};
    bool enforced = false;
    for (const auto& policy : policies) {
        const ReadResult result = policy.read.result;
        if (result == ReadResult::NoKey || result == ReadResult::NoValue)
            continue;
        if (result != ReadResult::Ok) {
            report.Fault(ShellExtensionPolicy, askFix, view.label,
                "the approval policy %s\\%s\\%s %s: whether approval is enforced cannot be told",
                policy.root, PoliciesKey, PolicyValue, Why(policy.read).text);
            return;
        }
        enforced = enforced || policy.read.value != 0;
    }

    Listing approved = FindClassUnder(ApprovedKey, view, classId);
    if (approved.unreadable) {
        report.Fault(ShellExtensionPolicy, "have the administrator let users read the key",
            view.label, "the list of approved shell extensions (%s) cannot be read", ApprovedKey);
    } else if (!enforced) {
        report.Ok(view.label, "approval of shell extensions is not enforced");
    } else if (!approved.machine && !approved.user) {
        report.Fault(ShellExtensionPolicy,
            "add a value named after the class to HKLM\\...\\Shell Extensions\\Approved (the "
            "player's installer writes it), or ask the administrator to approve it",
            view.label, "approval of shell extensions is enforced and the class %s is not approved",
            classId);
    } else {
        report.Ok(view.label, "approval is enforced and the class is approved (%s)",
            approved.machine ? "machine" : "user");
    }

    Listing blocked = FindClassUnder(BlockedKey, view, classId);
    if (blocked.machine || blocked.user) {
        report.Fault(ShellExtensionPolicy,
            "an administrator or a policy blocked it: remove the value from the Blocked key",
            view.label, "the class %s is blocked (%s\\%s)", classId,
            blocked.machine ? "HKLM" : "HKCU", BlockedKey);
    } else if (blocked.unreadable) {
        report.Fault(ShellExtensionPolicy, "have the administrator let users read the key",
            view.label, "the list of blocked shell extensions (%s) cannot be read", BlockedKey);
    } else {
        report.Ok(view.label, "the class is not blocked");
    }
}

void CheckView(Report& report, const View& view, const char* name, int ownBits)
{
    char entryKey[600] = {};
    snprintf(entryKey, sizeof entryKey, "%s\\%s", FindExtensionsStaticKey, name);
    RegistryText entry = {};
    ReadRegistryText(HKEY_LOCAL_MACHINE, entryKey, "", view.flag, entry);
    const char* registerFix = view.bits == 32
        ? "register the module again (regsvr32 kvshellsearch.dll in the player's directory; on "
          "64-bit Windows the 32-bit regsvr32 in SysWOW64), or repair the player"
        : "register the module again (regsvr32 kvshellsearch64.dll in the player's directory), "
          "or repair the player";
    if (entry.result == ReadResult::NoKey && !view.native) {
        report.Ok(view.label, "no entry %s here: nothing to check (the shell reads the other view)",
            name);
        return;
    }
    if (entry.result != ReadResult::Ok) {
        report.Fault(EntryNotFound, registerFix, view.label, "the entry HKLM\\%s %s", entryKey,
            Why(entry).text);
        return;
    }
    CLSID classId = {};
    wchar_t wideClassId[64] = {};
    MultiByteToWideChar(CP_ACP, 0, entry.text, -1, wideClassId, 63);
    if (strlen(entry.text) != 38 || FAILED(CLSIDFromString(wideClassId, &classId))) {
        report.Fault(ClassNotRegistered, registerFix, view.label,
            "the entry %s names no class: \"%s\"", name, entry.text);
        return;
    }
    report.Ok(view.label, "the entry %s names the class %s", name, entry.text);
    const bool ours = lstrcmpiA(entry.text, OurClassId) == 0;

    ModuleFileFacts facts = {};
    char modulePath[RegistryTextSize] = {};
    const bool moduleFound = CheckServer(report, view, entry.text, facts, modulePath);
    const int moduleBits = MachineBits(facts.machine);
    if (moduleFound && moduleBits != 0) {
        if (moduleBits == ownBits)
            CheckClassObject(report, view, modulePath, classId);
        else
            report.Skip(view.label,
                "the module is not loaded: a %d-bit doctor cannot; run the %d-bit "
                "shellfind doctor for it",
                ownBits, moduleBits);
    }
    CheckIcon(report, view, entryKey, registerFix);
    if (ours) {
        char product[260] = {};
        ProductNameOf(facts, product, sizeof product);
        CheckMainApp(report, view, product);
        HMODULE own = moduleFound ? LoadAsResources(modulePath) : nullptr;
        HMODULE texts = CheckSatellite(report, view, product, own);
        CheckMenuText(report, view, entryKey, texts, registerFix);
    }
    CheckPolicy(report, view, entry.text);
}

} // namespace

int Doctor(const char* name)
{
    const int ownBits = sizeof(void*) * 8;
    const bool is64Bit = SystemIs64Bit();
    Report report;
    CheckSystem(report, is64Bit);
    CoInitialize(nullptr);
    if (is64Bit) {
        const View views[] = {{"64-bit view", KEY_WOW64_64KEY, 64, true},
            {"32-bit view", KEY_WOW64_32KEY, 32, false}};
        for (const View& view : views)
            CheckView(report, view, name, ownBits);
    } else {
        CheckView(report, {"registry", 0, 32, true}, name, ownBits);
    }
    CoUninitialize();
    if (report.Faults() == 0)
        printf("%s: every check is ok: the entry shows and works on this system\n", name);
    else
        printf("%s: %d fault%s; exit code %d, that of the first\n", name, report.Faults(),
            report.Faults() == 1 ? "" : "s", report.ExitCode());
    return report.ExitCode();
}
