// What shellfind repair may change for our entry, decided once, while the doctor checks: each
// fault the doctor reports carries the repair that mends it, or none, and its fix says which;
// repair carries out what the faults carry and nothing else.
#pragma once

#include <windows.h>

#include "kvshellsearch.h"
#include "launch.h"
#include "registry_access.h"
#include "shell_paths.h"

// One registry view of the system, as the doctor checks it.
struct View {
    const char* label;
    REGSAM flag; // 0 on a 32-bit system
    int bits;
    bool native; // the view the system's own shell reads: only its faults are counted
    const char* moduleFile; // the module file name registration writes for this bitness
};

enum RepairAction : unsigned {
    NoRepair = 0,
    SetMainApp = 1, // MainApp set to its one right value, as a REG_SZ
    RegisterAgain = 4, // the module beside the player registers itself again
};

// What the player's path gives the module, as CheckPlayer reports it.
struct PlayerCheck {
    enum Outcome { NoPath, TooLong, NoProgram, NotAProgram, Starts } outcome;
    PlayerCommand command;
    char program[PathTextSize]; // what WinExec would look for
    char found[PathTextSize]; // where it is, when it is
};

struct RepairPlan {
    bool ours; // the entry is ours by name: no other entry is ever written
    bool ownBitness; // the view's module loads into this shellfind
    bool mayWrite; // this user may write every key repair would change
    char product[ShortTextSize];
    PlayerCheck player;
    bool mainAppMendable; // its right value is certain: rightMainApp
    char rightMainApp[TextBufferSize];
    enum { NoModulePath, ModuleMissing, ModuleUnusable, ModuleUsable } target;
    char module[TextBufferSize]; // the path registration writes, from MainApp as repair leaves it
    bool moduleLacksMenuText; // registering writes an empty menu text: the module lacks it
};

// The plan for the entry name in one view; product: the name the module files its preferences
// under. The menu-text fields are the caller's to fill.
void PlanRepair(const View& view, const char* name, const char* product, RepairPlan& plan);
// What a program the player's path names: the module's own command, and the file it starts.
void CheckPlayerPath(const char* product, REGSAM view, PlayerCheck& check);

// The repair for a fault that registering the module mends: NoRepair when repair cannot carry
// it out here, else what it does.
unsigned RegisterRepair(const RepairPlan& plan);
// The repair for a player's path that starts nothing: NoRepair unless its right value is certain.
unsigned MainAppRepair(const RepairPlan& plan);
// The fix of a fault that repair mends with actions, or, for NoRepair, what someone must do
// first, and who, before registering helps.
void RegisterFix(
    const RepairPlan& plan, const View& view, unsigned actions, char* fix, size_t size);
// The command that registers the module again, for what still shows and works (a note).
void RegisterCommandFix(const RepairPlan& plan, const View& view, char* fix, size_t size);
// How the customer started this shellfind: its own full path.
const char* OwnPath();
