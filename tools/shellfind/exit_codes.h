// shellfind's exit codes. The doctor exits with the code of its first FAULT line.
#pragma once

enum ExitCode {
    Success = 0,
    BrokenEntry = 1, // list: some entry is broken
    Usage = 2,
    EntryNotFound = 3, // no such entry, or it cannot be read
    ClassNotRegistered = 4, // the entry's class, its module file or its threading model
    ModuleNotLoaded = 5, // the module does not load or gives no class object
    InvokeFailed = 6,
    MenuTextWrong = 7, // missing, empty, or not what registration writes on this system now
    IconNotExtractable = 8,
    PreferencesBroken = 9, // the player's MainApp or SatelliteShellSearch preference
    ShellExtensionPolicy = 10, // not approved while approval is enforced, or blocked
    NoFindMenu = 11, // Windows Vista and later have no Find/Search menu
};
