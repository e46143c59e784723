#include "repair_plan.h"

#include "console.h"
#include "module_file.h"
#include "preferences.h"
#include "registration_call.h"
#include "registration_rules.h"
#include "text.h"

namespace {

bool IsProgram(const char* path)
{
    ModuleFileFacts facts = {};
    ReadModuleFileFacts(path, facts);
    return facts.exists && facts.isImage && !facts.isDll && MachineBits(facts.machine) != 0;
}

// The one value MainApp must have, when its stored value names it beyond doubt: a path that opens
// a quote and never closes it, or a REG_EXPAND_SZ the module does not expand, naming a program
// that is there. False when the right value is not certain.
bool CertainMainApp(const char* product, const View& view, const PlayerCheck& player, char* right)
{
    if (player.outcome != PlayerCheck::NoProgram)
        return false;
    char stored[TextBufferSize] = {};
    const TextReadFacts read = ReadMainApp(product, view.flag, stored, TextBufferSize - 1);
    if (read.result != TextReadResult::Read)
        return false;
    if (stored[0] == '"' && FindChar(stored + 1, '"') == nullptr) {
        lstrcpynA(right, stored + 1, TextBufferSize);
    } else if (read.type == REG_EXPAND_SZ && FindChar(stored, '%') != nullptr) {
        const DWORD needed = ExpandEnvironmentStringsA(stored, right, TextBufferSize);
        if (needed == 0 || needed > TextBufferSize)
            return false;
    } else {
        return false;
    }
    // Quoted, with " /search", the command must still fit the module's 1023 characters.
    return IsFullPath(right) && TextLength(right) + 10 <= TextBufferSize - 1 && IsProgram(right);
}

// Whether this user may write root\path: the key itself, or, while it does not exist, the
// nearest key above it that does, asked for the access registration asks for.
bool MayWrite(HKEY root, const char* path, REGSAM view)
{
    char key[TextBufferSize] = {};
    lstrcpynA(key, path, sizeof key);
    for (;;) {
        HKEY handle = nullptr;
        const LONG status = RegOpenKeyExA(root, key, 0, KEY_ALL_ACCESS | view, &handle);
        if (status == ERROR_SUCCESS) {
            RegCloseKey(handle);
            return true;
        }
        char* parent = const_cast<char*>(FindLastChar(key, '\\'));
        if (status != ERROR_FILE_NOT_FOUND || parent == nullptr)
            return status == ERROR_FILE_NOT_FOUND; // a key right below the root: the root's own
        *parent = '\0';
    }
}

bool MayWriteEveryKey(const RepairPlan& plan, const View& view)
{
    bool may = true;
    for (const RegisteredKey& key : RegistrationLayout) {
        char path[TextBufferSize] = {};
        FormatRegisteredKeyPath(key, OurClassId, path);
        may = may && MayWrite(key.root, path, view.flag);
    }
    const char* const preferences[] = {MainAppKeyTemplate, SatelliteKeyTemplate};
    for (const char* keyTemplate : preferences) {
        char path[TextBufferSize] = {};
        FormatPreferenceKeyPath(keyTemplate, plan.product, path);
        may = may && MayWrite(HKEY_CLASSES_ROOT, path, view.flag);
    }
    return may;
}

// The module registration would register: there, of the view's bitness, and (in shellfind's own
// bitness) a module that loads and registers itself.
void PlanTarget(const View& view, RepairPlan& plan)
{
    char mainApp[TextBufferSize] = {};
    if (plan.mainAppMendable)
        lstrcpynA(mainApp, plan.rightMainApp, sizeof mainApp);
    else if (ReadMainApp(plan.product, view.flag, mainApp, sizeof mainApp).result
        != TextReadResult::Read) {
        plan.target = RepairPlan::NoModulePath;
        return;
    }
    if (FAILED(MakeRegisteredModulePath(mainApp, view.moduleFile, plan.module))
        || !IsFullPath(plan.module)) {
        plan.target = RepairPlan::NoModulePath;
        return;
    }
    ModuleFileFacts facts = {};
    ReadModuleFileFacts(plan.module, facts);
    if (!facts.exists) {
        plan.target = RepairPlan::ModuleMissing;
        return;
    }
    bool usable = facts.isImage && facts.isDll && MachineBits(facts.machine) == view.bits;
    if (usable && view.bits == OwnBits) {
        // Left loaded, as the doctor leaves the class's module: a foreign one may run code.
        HMODULE module = LoadLibraryExA(plan.module, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        usable = module != nullptr && GetProcAddress(module, "DllRegisterServer") != nullptr
            && GetProcAddress(module, "DllGetClassObject") != nullptr;
    }
    plan.target = usable ? RepairPlan::ModuleUsable : RepairPlan::ModuleUnusable;
}

} // namespace

const char* OwnPath()
{
    static char path[MAX_PATH];
    if (path[0] == '\0' && GetModuleFileNameA(nullptr, path, MAX_PATH) == 0)
        lstrcpynA(path, "shellfind.exe", MAX_PATH);
    return path;
}

void CheckPlayerPath(const char* product, REGSAM view, PlayerCheck& check)
{
    check = PlayerCheck();
    check.command = MakePlayerCommand(product, view);
    if (check.command.outcome == PlayerCommand::NoPath) {
        check.outcome = PlayerCheck::NoPath;
    } else if (check.command.outcome == PlayerCommand::TooLong) {
        check.outcome = PlayerCheck::TooLong;
    } else if (!FindProgramOfCommandLine(check.command.Line(), check.program, check.found)) {
        check.outcome = PlayerCheck::NoProgram;
    } else {
        check.outcome = IsProgram(check.found) ? PlayerCheck::Starts : PlayerCheck::NotAProgram;
    }
}

void PlanRepair(const View& view, const char* name, const char* product, RepairPlan& plan)
{
    plan = RepairPlan();
    plan.ours = lstrcmpiA(name, FindExtensionName) == 0;
    plan.ownBitness = view.bits == OwnBits;
    lstrcpynA(plan.product, product, sizeof plan.product);
    CheckPlayerPath(product, view.flag, plan.player);
    plan.mainAppMendable = CertainMainApp(product, view, plan.player, plan.rightMainApp);
    PlanTarget(view, plan);
    plan.mayWrite = plan.ownBitness && MayWriteEveryKey(plan, view);
}

unsigned RegisterRepair(const RepairPlan& plan)
{
    if (!plan.ours || !plan.ownBitness || !plan.mayWrite || plan.target != RepairPlan::ModuleUsable
        || plan.moduleLacksMenuText)
        return NoRepair;
    // The path registration writes comes from MainApp: its mend goes first.
    return RegisterAgain | (plan.mainAppMendable ? SetMainApp : NoRepair);
}

unsigned MainAppRepair(const RepairPlan& plan)
{
    return plan.ours && plan.mainAppMendable && plan.mayWrite ? SetMainApp : NoRepair;
}

void RegisterFix(const RepairPlan& plan, const View& view, unsigned actions, char* fix, size_t size)
{
    if (actions != NoRepair) {
        char what[3 * TextBufferSize] = {};
        auto add = [&what](const char* part, const char* value, const char* end) {
            char longer[sizeof what] = {};
            FormatText(longer, sizeof longer, "%s%s%s%s%s", what, what[0] != '\0' ? ", " : "", part,
                value, end);
            lstrcpynA(what, longer, sizeof what);
        };
        if (actions & SetMainApp)
            add("sets the player's path (MainApp) to \"", plan.rightMainApp, "\" as a REG_SZ");
        if (actions & RegisterAgain)
            add("registers \"", plan.module, "\" again");
        FormatText(fix, size, "run \"%s\" repair (it %s)", OwnPath(), what);
        return;
    }
    // What to run once the file or the path is right: this build's repair, or the other
    // build's, which alone loads the module of the view's bitness.
    char then[2 * MAX_PATH] = {};
    if (plan.ownBitness)
        FormatText(then, sizeof then, "run \"%s\" repair", OwnPath());
    else
        FormatText(then, sizeof then, "run %s: shellfind %s", ShellfindBuildFor(view.bits),
            view.native ? "repair" : "register");
    if (!plan.ours) {
        lstrcpynA(fix, "repair the installation of the program this entry belongs to",
            static_cast<int>(size));
    } else if (!plan.ownBitness && (view.native || plan.target == RepairPlan::ModuleUsable)) {
        lstrcpynA(fix, then, static_cast<int>(size));
    } else if (plan.target == RepairPlan::NoModulePath) {
        FormatText(fix, size,
            "mend the player's path first (HKCR\\...\\Preferences\\MainApp, see its line), then %s",
            then);
    } else if (plan.target == RepairPlan::ModuleMissing) {
        FormatText(fix, size,
            "repair the player's installation, which puts \"%s\" back, or copy %s there; then %s",
            plan.module, view.moduleFile, then);
    } else if (plan.target == RepairPlan::ModuleUnusable) {
        FormatText(fix, size,
            "replace \"%s\" with the player's %d-bit %s (repair the player's installation, or copy "
            "the file from the player's package); then %s",
            plan.module, view.bits, view.moduleFile, then);
    } else if (plan.moduleLacksMenuText) {
        lstrcpynA(fix, "repair the player's installation: the module lacks its texts",
            static_cast<int>(size));
    } else {
        FormatText(fix, size,
            "only an administrator of this machine can mend this: \"%s\" repair, run by an "
            "administrator",
            OwnPath());
    }
}

void RegisterCommandFix(const RepairPlan& plan, const View& view, char* fix, size_t size)
{
    if (plan.ownBitness && plan.target == RepairPlan::ModuleUsable)
        FormatText(
            fix, size, "register the module again: \"%s\" register \"%s\"", OwnPath(), plan.module);
    else if (plan.target == RepairPlan::ModuleUsable)
        FormatText(fix, size, "register the module again with %s: shellfind register \"%s\"",
            ShellfindBuildFor(view.bits), plan.module);
    else
        RegisterFix(plan, view, NoRepair, fix, size);
}
