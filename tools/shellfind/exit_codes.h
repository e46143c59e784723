// shellfind's exit codes. The doctor exits with the code of its first FAULT line.
#pragma once

enum ExitCode {
    Success = 0,
    BrokenEntry = 1, // list: some entry is broken
    Usage = 2,
    EntryNotFound = 3, // no such entry, or it cannot be read
    ClassNotRegistered = 4, // the entry's class, its module file or its threading model
    ModuleNotLoaded = 5, // the module does not load or gives no class object
    InvokeFailed = 6, // invoke: the module's InvokeCommand failed (the player did not start)
    MenuTextWrong = 7, // missing or empty: the shell shows no entry without a text
    IconNotExtractable = 8, // no longer given: an entry without its icon still shows (a note)
    PreferencesBroken = 9, // the player's MainApp preference: the player would not start
    ShellExtensionPolicy = 10, // blocked, or not approved while approval is enforced
    NoFindMenu = 11, // Windows Vista and later have no Find/Search menu
    Incomplete = 12, // doctor: no fault found, but a check the verdict needs could not be made
    RegistrationFailed = 13, // register, unregister: the module could not be called, or it failed
};
