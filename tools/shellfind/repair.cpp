#include "repair.h"

#include <windows.h>

#include "console.h"
#include "doctor.h"
#include "exit_codes.h"
#include "kvshellsearch.h"
#include "preferences.h"
#include "registration_call.h"
#include "registry_backup.h"
#include "repair_plan.h"
#include "report.h"
#include "text.h"

namespace {

void PrintPlan(const RepairPlan& plan, unsigned actions, const char* will)
{
    if (actions & SetMainApp) {
        char key[TextBufferSize] = {};
        FormatPreferenceKeyPath(MainAppKeyTemplate, plan.product, key);
        Print("repair: %s set HKCR\\%s to \"%s\" (REG_SZ)\n", will, key, plan.rightMainApp);
    }
    if (actions & RegisterAgain)
        Print("repair: %s register \"%s\" (its own DllRegisterServer)\n", will, plan.module);
}

bool SaveWhatChanges(const RepairPlan& plan, unsigned actions, RegistryBackup& backup)
{
    bool saved = true;
    if (actions & SetMainApp) {
        char key[TextBufferSize] = {};
        FormatPreferenceKeyPath(MainAppKeyTemplate, plan.product, key);
        saved = backup.Save(HKEY_CLASSES_ROOT, key) && saved;
    }
    if (actions & RegisterAgain)
        saved = SaveRegisteredLayout(backup) && saved;
    return saved;
}

// The module registers itself in a process of its own: this one has it loaded already, with the
// translation it chose then, and a module chooses its texts only when it is loaded.
bool RegisterInNewProcess(const char* module)
{
    char line[2 * MAX_PATH + TextBufferSize] = {};
    FormatText(line, sizeof line, "\"%s\" register \"%s\"", OwnPath(), module);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    // A start that failed can go through a moment later (seen under Wine, once in some hundred
    // repairs: error 1359, an internal error): one more try before repair gives up and puts
    // everything back.
    bool started = false;
    DWORD error = 0;
    for (int attempt = 0; attempt < 2 && !started; ++attempt) {
        if (attempt > 0)
            Sleep(200);
        started = CreateProcessA(
            OwnPath(), line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
        error = GetLastError();
    }
    if (!started) {
        PrintError(
            "repair: shellfind could not start itself to register the module (error %lu)\n", error);
        return false;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code == Success;
}

bool CarryOut(const RepairPlan& plan, unsigned actions)
{
    if (actions & SetMainApp) {
        char key[TextBufferSize] = {};
        FormatPreferenceKeyPath(MainAppKeyTemplate, plan.product, key);
        HKEY handle = nullptr;
        LONG status = RegCreateKeyExA(
            HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr);
        if (status == ERROR_SUCCESS) {
            status = RegSetValueExA(handle, "", 0, REG_SZ,
                reinterpret_cast<const BYTE*>(plan.rightMainApp),
                static_cast<DWORD>(TextLength(plan.rightMainApp) + 1));
            RegCloseKey(handle);
        }
        if (status != ERROR_SUCCESS) {
            PrintError("repair: HKCR\\%s cannot be written (error %ld)\n", key, status);
            return false;
        }
    }
    return !(actions & RegisterAgain) || RegisterInNewProcess(plan.module);
}

} // namespace

int Repair(const char* name, bool dryRun)
{
    Report report;
    RepairPlan plan = {};
    CheckEntry(name, report, plan);
    const int code = SumUp(name, report);
    if (report.Faults() == 0) {
        Print("repair: nothing to repair; nothing was changed\n");
        return code;
    }
    if (!report.Repairable()) {
        Print("repair: nothing was changed: repair cannot mend every fault above, and their "
              "fixes say who can\n");
        return code;
    }
    const unsigned actions = report.Repairs();
    PrintPlan(plan, actions, dryRun ? "would" : "will");
    if (dryRun) {
        Print("repair: dry run: nothing was changed\n");
        return code;
    }
    RegistryBackup backup;
    char backupPath[MAX_PATH] = {};
    if (!SaveWhatChanges(plan, actions, backup) || !backup.WriteRegedit4(backupPath)) {
        PrintError("repair: the backup of what it would change cannot be written to the "
                   "temporary directory: nothing was changed\n");
        return code;
    }
    Print("backup: %s\n", backupPath);
    if (!CarryOut(plan, actions)) {
        if (backup.Restore())
            PrintError("repair: failed; everything it changed is back as it was\n");
        else
            PrintError("repair: failed, and not everything could be put back: import the backup "
                       "as an administrator (regedit /s \"%s\")\n",
                backupPath);
        return code;
    }
    Print("repair: done; the doctor again:\n");
    Report after;
    RepairPlan again = {};
    CheckEntry(name, after, again);
    return SumUp(name, after);
}
