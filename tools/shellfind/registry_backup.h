// What repair and register are about to change, kept as it was: written out as a REGEDIT4 file
// (the format Windows 95's regedit imports, and every later regedit), and put back in place when
// a change fails. Keys are read in the process's own registry view.
#pragma once

#include <windows.h>

struct SavedKey;

class RegistryBackup {
public:
    RegistryBackup() = default;
    ~RegistryBackup();
    RegistryBackup(const RegistryBackup&) = delete;
    RegistryBackup& operator=(const RegistryBackup&) = delete;

    // Remembers root\path's values as they are now, or that the key does not exist. Keys are
    // saved parents first. False when the key exists but cannot be read whole.
    bool Save(HKEY root, const char* path);
    // Every saved key that existed, with its values, as a new REGEDIT4 file in the temporary
    // directory; its path goes into path (MAX_PATH bytes). A key that did not exist is not in the
    // file: importing it gives back every old value, and removes nothing that came since.
    bool WriteRegedit4(char* path) const;
    // Puts every saved key back as it was: its values set back, values that came since deleted,
    // and keys that did not exist deleted again. False when any of that failed.
    bool Restore() const;

private:
    SavedKey* keys_ = nullptr; // the last saved first
};
