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
#include "registration_call.h"
#include "registration_rules.h"
#include "registry_text.h"
#include "report.h"
#include "shell_paths.h"
#include "repair_plan.h"
#include "shell_policy.h"
#include "system_check.h"
#include "text.h"

namespace {

constexpr char AdministratorFix[] = "only an administrator of this machine (or the domain's group "
                                    "policy) can change this";

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

// Whether the player starts: the module's own command line, and the program it names.
void CheckPlayer(Report& report, const View& view, const RepairPlan& plan)
{
    const unsigned repair = MainAppRepair(plan);
    char fix[3 * TextBufferSize] = {};
    if (repair != NoRepair)
        RegisterFix(plan, view, repair, fix, sizeof fix);
    else
        lstrcpynA(fix,
            "repair the player's installation (it writes this preference), or set "
            "HKCR\\...\\Preferences\\MainApp as a REG_SZ to the player's full path",
            sizeof fix);
    char key[TextBufferSize] = {};
    FormatPreferenceKeyPath(MainAppKeyTemplate, plan.product, key);
    const PlayerCheck& player = plan.player;
    const PlayerCommand& command = player.command;
    switch (player.outcome) {
    case PlayerCheck::NoPath: {
        char phrase[160];
        report.Fault(view.native, PreferencesBroken, repair, fix, view.label,
            "the player's path (HKCR\\%s) %s: the module starts nothing", key,
            Describe(command.read, phrase, sizeof phrase));
        return;
    }
    case PlayerCheck::TooLong:
        report.Fault(view.native, PreferencesBroken, repair, "install the player in a shorter path",
            view.label,
            "the player's path is too long: with its quotes and \" /search\" it does not fit "
            "the module's %lu characters",
            static_cast<unsigned long>(TextBufferSize - 1));
        return;
    case PlayerCheck::NoProgram: {
        const char* path = command.text + 1;
        const bool openQuote = path[0] == '"' && FindChar(path + 1, '"') == nullptr;
        const bool unexpanded = command.read.type == REG_EXPAND_SZ && FindChar(path, '%');
        report.Fault(view.native, PreferencesBroken, repair, fix, view.label,
            "the module starts %s, and there is no program \"%s\"%s", command.Line(),
            player.program,
            openQuote        ? ": the path opens a quote and never closes it"
                : unexpanded ? ": the value is a REG_EXPAND_SZ, and the module does not expand it"
                             : "");
        return;
    }
    case PlayerCheck::NotAProgram:
        report.Fault(view.native, PreferencesBroken, repair, fix, view.label,
            "the module starts %s, but \"%s\" is not a Windows program", command.Line(),
            player.found);
        return;
    case PlayerCheck::Starts:
        break;
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

void ReadExpectedMenuText(Report& report, const View& view, const char* product,
    const char* ownModule, ExpectedText& expected)
{
    expected = ExpectedText();
    HMODULE texts = nullptr;
    char satellite[SatellitePathBlockSize] = {};
    const TextReadFacts read = ReadSatellitePath(product, view.flag, satellite);
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
    // As registration does: a string the translation lacks comes from the module itself.
    if (expected.text[0] == '\0' && expected.fromTranslation) {
        report.Note(view.label,
            "the translation lacks string %u: registering the module writes the module's own "
            "menu text",
            expected.id);
        expected.fromTranslation = false;
        texts = ownModule[0] != '\0' ? LoadLibraryExA(ownModule, nullptr, LOAD_LIBRARY_AS_DATAFILE)
                                     : nullptr;
        if (texts == nullptr
            || LoadStringA(texts, expected.id, expected.text, sizeof expected.text) <= 0)
            expected.text[0] = '\0';
        if (texts != nullptr)
            FreeLibrary(texts);
    }
    if (expected.text[0] == '\0')
        report.Note(view.label,
            "the module lacks string %u: registering the module writes an empty menu text, and "
            "the shell shows no entry without one",
            expected.id);
}

// The fixes of one view: what mends a fault that registering the module again mends.
struct ViewFixes {
    unsigned registerRepair; // NoRepair when repair cannot register here
    char registerFix[3 * TextBufferSize];
    char noteFix[3 * TextBufferSize]; // for what still shows and works: the register command
};

// A file where the class's module should be that will not do: registering again mends it only
// when registration names another file, the one beside the player.
void ReplaceFix(const View& view, const ViewFixes& fixes, const RepairPlan& plan,
    const char* modulePath, unsigned& repair, char* fix, size_t size)
{
    if (fixes.registerRepair != NoRepair && lstrcmpiA(modulePath, plan.module) != 0) {
        repair = fixes.registerRepair;
        lstrcpynA(fix, fixes.registerFix, static_cast<int>(size));
        return;
    }
    repair = NoRepair;
    FormatText(fix, size,
        "replace \"%s\" with the player's %d-bit %s: repair the player's installation, or copy "
        "the file from the player's package",
        modulePath, view.bits, view.moduleFile);
}

// Whether the entry shows: the shell lists an entry only with a menu text. A text other than
// the one registration writes now still shows, and is a note.
void CheckMenuText(Report& report, const View& view, const char* entryKey,
    const ExpectedText& expected, const ViewFixes& fixes)
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
        report.Fault(view.native, MenuTextWrong, fixes.registerRepair, fixes.registerFix,
            view.label, "the menu text (HKLM\\%s) %s: the shell shows no entry without one", path,
            why);
        return;
    }
    report.Ok(view.label, "the entry shows as \"%s\"", menu.text);
    if (menu.result == ReadResult::Unterminated)
        report.Note(view.label, "the menu text is stored without its terminating zero");
    if (expected.text[0] != '\0' && lstrcmpA(menu.text, expected.text) != 0)
        report.Note(view.label,
            "the menu text is \"%s\"; registration writes \"%s\" on this system now -- to show "
            "that, %s",
            menu.text, expected.text, fixes.noteFix);
}

// The module as the shell's COM would load it, and its class object.
void CheckClassObject(Report& report, const View& view, const char* modulePath,
    const CLSID& classId, const ViewFixes& fixes, const RepairPlan& plan)
{
    // As COM loads an in-process server: the module's own directory first for what it imports.
    HMODULE module = LoadLibraryExA(modulePath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD error = GetLastError();
    unsigned repair = NoRepair;
    char fix[3 * TextBufferSize] = {};
    ReplaceFix(view, fixes, plan, modulePath, repair, fix, sizeof fix);
    if (module == nullptr) {
        report.Fault(view.native, ModuleNotLoaded, repair, fix, view.label,
            "the module \"%s\" does not load (error %lu)", modulePath, error);
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
        report.Fault(view.native, ModuleNotLoaded, repair, fix, view.label,
            "the module \"%s\" loads but gives no class object (0x%08lX)", modulePath,
            static_cast<unsigned long>(result));
        return;
    }
    factory->Release();
    // Left loaded: a foreign module may still run code of its own.
    report.Ok(view.label, "the module loads and gives the class object");
}

// The class's module file, found as the shell finds it. False when nothing more can be checked.
bool CheckServer(Report& report, const View& view, const char* classId, const ViewFixes& fixes,
    const RepairPlan& plan, ModuleFileFacts& facts, char* modulePath)
{
    char path[256] = {};
    FormatText(path, sizeof path, "CLSID\\%s\\InProcServer32", classId);
    RegistryText server = {};
    ReadRegistryText(HKEY_CLASSES_ROOT, path, "", view.flag, server);
    const unsigned repair = fixes.registerRepair;
    if (server.result != ReadResult::Ok) {
        char why[160];
        DescribeReadFailure(server.result, server.type, server.error, why, sizeof why);
        report.Fault(view.native, ClassNotRegistered, repair, fixes.registerFix, view.label,
            "the class's module (HKCR\\%s) %s", path, why);
        return false;
    }
    if (!FindModuleAsTheShell(server.text, modulePath)) {
        report.Fault(view.native, ClassNotRegistered, repair, fixes.registerFix, view.label,
            IsFullPath(server.text)
                ? "the class's module \"%s\" does not exist"
                : "the class's module \"%s\" is no full path, and the shell finds no such file in "
                  "its own directories (Windows, System, PATH)",
            server.text);
        return false;
    }
    ReadModuleFileFacts(modulePath, facts);
    unsigned replaceRepair = NoRepair;
    char replaceFix[3 * TextBufferSize] = {};
    ReplaceFix(view, fixes, plan, modulePath, replaceRepair, replaceFix, sizeof replaceFix);
    if (!facts.isImage) {
        report.Fault(view.native, ClassNotRegistered, replaceRepair, replaceFix, view.label,
            "the class's module \"%s\" is not a Windows module", modulePath);
        return false;
    }
    if (MachineBits(facts.machine) != view.bits) {
        report.Fault(view.native, ClassNotRegistered, replaceRepair, replaceFix, view.label,
            "the class's module \"%s\" is %s, but only a %d-bit module loads from this view",
            modulePath, MachineBitness(facts.machine), view.bits);
        return false;
    }
    report.Ok(
        view.label, "the class's module is \"%s\" (%s)", modulePath, MachineBitness(facts.machine));

    RegistryText model = {};
    ReadRegistryText(HKEY_CLASSES_ROOT, path, "ThreadingModel", view.flag, model);
    if (model.result != ReadResult::Ok || lstrcmpiA(model.text, "Apartment") != 0) {
        report.Fault(view.native, ClassNotRegistered, repair, fixes.registerFix, view.label,
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
        report.Fault(view.native, ShellExtensionPolicy, NoRepair, AdministratorFix, view.label,
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
        report.Fault(view.native, ShellExtensionPolicy, NoRepair,
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

// The menu text registration writes now, and what that means for registering again.
void PlanMenuText(Report& report, const View& view, const char* ownModule, RepairPlan& plan,
    ExpectedText& expected)
{
    ReadExpectedMenuText(report, view, plan.product,
        plan.target == RepairPlan::ModuleUsable ? plan.module : ownModule, expected);
    plan.moduleLacksMenuText = expected.known && expected.text[0] == '\0';
}

void CheckView(Report& report, const View& view, const char* name, RepairPlan& plan)
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
    const bool oursByName = lstrcmpiA(name, FindExtensionName) == 0;

    // Our module's file tells the product name the preferences are filed under, and holds the
    // texts registration writes when no translation is used.
    char ourModule[PathTextSize] = {};
    ModuleFileFacts facts = {};
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
    }
    char product[ShortTextSize] = {};
    ProductNameOf(facts, product);
    PlanRepair(view, name, product, plan);
    ExpectedText expected = {};
    if (ours || oursByName)
        PlanMenuText(report, view, ourModule, plan, expected);
    ViewFixes fixes = {};
    fixes.registerRepair = RegisterRepair(plan);
    RegisterFix(plan, view, fixes.registerRepair, fixes.registerFix, sizeof fixes.registerFix);
    RegisterCommandFix(plan, view, fixes.noteFix, sizeof fixes.noteFix);

    if (entry.result != ReadResult::Ok) {
        char why[160];
        DescribeReadFailure(entry.result, entry.type, entry.error, why, sizeof why);
        const bool refused = entry.result == ReadResult::KeyRefused;
        report.Fault(view.native, EntryNotFound, refused ? NoRepair : fixes.registerRepair,
            refused ? AdministratorFix : fixes.registerFix, view.label, "the entry HKLM\\%s %s",
            entryKey, why);
        // What registering would not mend, told now: repair acts only where it makes the
        // entry work.
        if (oursByName && !refused) {
            CheckPolicy(report, view, OurClassId);
            CheckPlayer(report, view, plan);
        }
        return;
    }
    CLSID classId = {};
    wchar_t wideClassId[64] = {};
    MultiByteToWideChar(CP_ACP, 0, entry.text, -1, wideClassId, 63);
    if (TextLength(entry.text) != 38 || FAILED(CLSIDFromString(wideClassId, &classId))) {
        report.Fault(view.native, ClassNotRegistered, fixes.registerRepair, fixes.registerFix,
            view.label, "the entry %s names no class: \"%s\"", name, entry.text);
        if (oursByName) {
            CheckPolicy(report, view, OurClassId);
            CheckPlayer(report, view, plan);
        }
        return;
    }
    report.Ok(view.label, "the entry %s names the class %s", name, entry.text);

    CheckMenuText(report, view, entryKey, expected, fixes);
    CheckPolicy(report, view, entry.text);
    char modulePath[PathTextSize] = {};
    facts = ModuleFileFacts();
    if (CheckServer(report, view, entry.text, fixes, plan, facts, modulePath)) {
        if (MachineBits(facts.machine) == OwnBits) {
            CheckClassObject(report, view, modulePath, classId, fixes, plan);
        } else {
            report.Skip(view.native, view.label,
                "the module is not loaded: a %d-bit doctor cannot load a %d-bit module; run the "
                "%d-bit shellfind doctor for it",
                OwnBits, MachineBits(facts.machine), MachineBits(facts.machine));
        }
    }
    CheckIcon(report, view, entryKey, fixes.noteFix);
    // How a module of the other bitness reads the preferences where no shell reads its view is
    // the registry redirector's business (shared keys on some systems, redirected and reflected
    // ones on others): only that bitness's doctor reads them as its module does.
    if (ours && (view.native || plan.ownBitness))
        CheckPlayer(report, view, plan);
    else if (ours)
        report.Note(view.label,
            "the player's path, as a %d-bit module reads it, is not checked here: run %s doctor",
            view.bits, ShellfindBuildFor(view.bits));
}

} // namespace

void CheckEntry(const char* name, Report& report, RepairPlan& plan)
{
    plan = RepairPlan();
    const bool is64Bit = SystemIs64Bit();
    if (!CheckSystem(report, is64Bit))
        return;
    CoInitialize(nullptr);
    if (is64Bit) {
        const View views[] = {{"64-bit view", KEY_WOW64_64KEY, 64, true, ModuleFileName64},
            {"32-bit view", KEY_WOW64_32KEY, 32, false, ModuleFileName32}};
        RepairPlan other = {};
        for (const View& view : views)
            CheckView(report, view, name, view.native ? plan : other);
    } else {
        CheckView(report, {"registry", 0, 32, true, ModuleFileName32}, name, plan);
    }
    CoUninitialize();
}

int SumUp(const char* name, const Report& report)
{
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
    if (report.Repairable())
        Print("%s: \"%s\" repair mends every fault above\n", name, OwnPath());
    return code;
}

int Doctor(const char* name)
{
    Report report;
    RepairPlan plan = {};
    CheckEntry(name, report, plan);
    return SumUp(name, report);
}
