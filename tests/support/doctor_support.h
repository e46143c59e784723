// What the doctor's tests share: a healthy install to break, the shell's policy keys, and the
// doctor's output read line by line.
#pragma once

#include <windows.h>

#include <string>

#include "support/test_support.h"

constexpr char PoliciesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr char ApprovedKey[]
    = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
constexpr char BlockedKey[]
    = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Blocked";
constexpr char PolicyValue[] = "EnforceShellExtensionSecurity";
#ifdef _WIN64
constexpr char WindowsXp[] = "winxp64";
constexpr WORD OwnMachine = IMAGE_FILE_MACHINE_AMD64;
constexpr WORD OtherMachine = IMAGE_FILE_MACHINE_I386;
#else
constexpr char WindowsXp[] = "winxp";
constexpr WORD OwnMachine = IMAGE_FILE_MACHINE_I386;
constexpr WORD OtherMachine = IMAGE_FILE_MACHINE_AMD64;
#endif

struct Install {
    std::string directory;
    std::string module;
    std::string player;
};

void SetNumber(HKEY root, const char* path, const char* name, DWORD value);
// Headers and nothing else: a file that says it is an image for that processor, and cannot load.
void WriteHeaderOnlyImage(const std::string& path, WORD machine);
void WriteTextFile(const std::string& path, const std::string& text);
// Leaves the key to its owner's WRITE_DAC and DELETE: nobody may read it until it is opened up.
void SetKeyAccess(HKEY root, const char* path, bool readable);
// Everyone gets exactly this access to the key (KEY_READ | WRITE_DAC: read, but never written).
void SetKeyAccessMask(HKEY root, const char* path, DWORD access);
void ClearPolicies();

// The module and the stand-in player in a fresh directory, registered there.
Install MakeHealthyInstall();

// The first line that begins with prefix ("FAULT"), or an empty text when there is none.
std::string FirstLine(const std::string& output, const char* prefix = "FAULT");
// "shellfind.exe" beside the tests, quoted, with these arguments.
std::string Shellfind(const std::string& arguments);
// The command a fix names, "\"...\shellfind.exe\" repair" or "... register \"MODULE\"", as a
// command line; empty when the line names none.
std::string ShellfindCommandIn(const std::string& line);

// The backup a repair's output names ("backup: PATH"), or an empty text.
std::string BackupPathIn(const std::string& output);

// HKLM\Software and HKCU\Software (and with them the classes root), every key and value.
RegistryExport SoftwareSnapshot();
// Our registry layout, the player's preferences and the shell's policy keys: what repair would
// change, at a fraction of the cost.
RegistryExport OurKeysSnapshot();
// The keys and values that differ between two snapshots, a line each; empty when none do.
// Which: every one, those outside our registry layout and the player's two preferences, or those
// of ours that were there before and are not as they were (added ones do not count).
enum class Changes { All, OutsideOurKeys, OursLost };
std::string ChangedKeys(const RegistryExport& before, const RegistryExport& after, Changes which);

// A clean registry, no policies, and a Windows XP profile for shellfind.
class DoctorTest : public RegistryTest {
protected:
    void SetUp() override;
    void TearDown() override;
};
