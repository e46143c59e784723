// Replaces one entry of a loaded module's import address table for the life of the hook, so a
// test can see or vary one platform call that Wine cannot (a command line too long to exist, a
// failing registry write). Calls the module makes through that import reach the replacement.
#pragma once

#include <windows.h>

class ImportHook {
public:
    ImportHook(HMODULE module, const char* importedDll, const char* function, void* replacement);
    ~ImportHook();
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    bool Installed() const { return slot_ != nullptr; }
    // For a module that is about to be unloaded with the hook still in place: its table goes
    // with it, so there is nothing to restore.
    void Abandon() { slot_ = nullptr; }
    // The function the module called before the hook, for replacements that pass calls on.
    void* Original() const { return original_; }

private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};
