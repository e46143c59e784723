// What repair promises support people: it loses nothing. Its REGEDIT4 backup gives back every
// value byte for byte, each backup is a file of its own, a step that fails puts back every saved
// key and value in place, a mend of MainApp writes exactly the value it names, and what this user
// may not write is left to an administrator, also where the key does not exist yet.
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/doctor_support.h"

namespace {

std::string FileText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

int Regedit(const std::string& file)
{
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    return RunProgram("\"" + std::string(windows) + "\\regedit.exe\" /s \"" + file + "\"");
}

void SetValue(const char* path, const char* name, DWORD type, const std::string& data)
{
    SetNamedValue(
        HKEY_CLASSES_ROOT, path, name, data.data(), static_cast<DWORD>(data.size()), type);
}

} // namespace

// Every type and shape of value the backup may meet, in a key repair saves, comes back through
// regedit as it was; a second repair writes a second backup and leaves the first as it was.
TEST_F(DoctorTest, RepairBackupGivesBackEveryValueAndEachRepairWritesItsOwn)
{
    MakeHealthyInstall();
    const std::string nul(1, '\0');
    const struct {
        const char* name;
        DWORD type;
        std::string data;
    } values[] = {
        {"text", REG_SZ, "C:\\a \"b\"\\" + nul},
        {"empty text", REG_SZ, nul},
        {"no bytes", REG_SZ, ""},
        {"no terminator", REG_SZ, "abc"},
        {"two terminators", REG_SZ, "ab" + nul + nul},
        {"line feed", REG_SZ, "a\nb" + nul},
        {"expandable", REG_EXPAND_SZ, "%SystemRoot%\\x" + nul},
        {"multi", REG_MULTI_SZ, "a" + nul + "b" + nul + nul},
        {"binary", REG_BINARY, std::string("\x00\x01\xfe\xff", 4)},
        {"empty binary", REG_BINARY, ""},
        {"dword", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
        {"short dword", REG_DWORD, std::string("\x01\x02", 2)},
        {"qword", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
        {"none", REG_NONE, std::string("\x01", 1)},
        {"a type of its own", 0x4242, "xyz"},
        // Windows 95's largest value ("about 16,300 bytes", RegSetValueEx).
        {"largest", REG_BINARY, std::string(16300, '\x5a')},
        {"\"quoted\\name\"", REG_SZ, "v" + nul},
    };
    for (const auto& v : values)
        SetValue(ClassKey, v.name, v.type, v.data);
    SetValue(ServerKey, nullptr, REG_EXPAND_SZ, QueryValue(HKEY_CLASSES_ROOT, ServerKey).Text());
    SetDefaultText(HKEY_LOCAL_MACHINE, MenuKey, "");
    const RegistryExport before = OurKeysSnapshot();

    std::string output;
    ASSERT_EQ(0, RunProgram(Shellfind("repair"), output)) << output;
    const std::string first = BackupPathIn(output);
    ASSERT_NE("", first) << output;
    const std::string firstText = FileText(first);
    DeleteTree(HKEY_CLASSES_ROOT, ClassKey);
    DeleteTree(HKEY_LOCAL_MACHINE, StaticKey);
    EXPECT_EQ(0, Regedit(first));
    EXPECT_EQ("", ChangedKeys(before, OurKeysSnapshot(), Changes::All)) << firstText;

    ASSERT_EQ(0, RunProgram(Shellfind("repair"), output)) << output;
    const std::string second = BackupPathIn(output);
    EXPECT_NE(first, second) << output;
    EXPECT_EQ(firstText, FileText(first)) << "the second backup was written over the first";
    DeleteFileA(first.c_str());
    DeleteFileA(second.c_str());
}

// A step that fails after others succeeded: the registration, in repair's own child process,
// writes the class keys and then cannot create the menu text's key (below a volatile key only
// volatile keys may be made, which the permission check cannot foresee). The registration puts
// back what it wrote, named values too, and repair what it wrote itself (MainApp): everything
// is as it was, compared whole.
TEST_F(DoctorTest, AFailedStepPutsBackEverySavedKeyAndValue)
{
    const struct {
        const char* state;
        void (*breakIt)(const Install&);
    } cases[] = {
        {"registration fails after writing keys",
            [](const Install&) {
                // Registration adds the value, and the put-back deletes it again.
                HKEY key = nullptr;
                RegOpenKeyExA(HKEY_CLASSES_ROOT, ServerKey, 0, KEY_ALL_ACCESS, &key);
                RegDeleteValueA(key, "ThreadingModel");
                RegCloseKey(key);
                SetValue(ServerKey, "Extra", REG_SZ, std::string("kept", 5));
            }},
        {"the same after MainApp was mended",
            [](const Install& i) {
                SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, "\"" + i.player);
                SetValue(ServerKey, "ThreadingModel", REG_SZ, std::string("Both", 5));
            }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        ResetRegistry();
        c.breakIt(MakeHealthyInstall());
        DeleteTree(HKEY_LOCAL_MACHINE, StaticKey);
        HKEY volatileKey = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, StaticKey, 0, nullptr, REG_OPTION_VOLATILE,
                KEY_ALL_ACCESS, nullptr, &volatileKey, nullptr));
        RegSetValueExA(volatileKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(ClassIdText),
            sizeof ClassIdText);
        RegCloseKey(volatileKey);
        const RegistryExport before = OurKeysSnapshot();
        std::string output;
        EXPECT_NE(0, RunProgram(Shellfind("repair"), output)) << output;
        EXPECT_NE(std::string::npos, output.find("everything it changed is back as it was"))
            << output;
        EXPECT_EQ("", ChangedKeys(before, OurKeysSnapshot(), Changes::All)) << output;
        DeleteFileA(BackupPathIn(output).c_str());
    }
}

// Each MainApp whose right value is certain is mended to exactly that value, as a REG_SZ.
TEST_F(DoctorTest, EachMainAppMendWritesExactlyTheValueItNames)
{
    const Install install = MakeHealthyInstall();
    char temp[MAX_PATH] = {};
    GetEnvironmentVariableA("TEMP", temp, MAX_PATH);
    const std::string player = std::string(temp) + "\\mend player.exe";
    InstallPlayer(player);
    const struct {
        const char* state;
        DWORD type;
        std::string stored;
    } cases[] = {
        {"a quote opened and never closed", REG_SZ, "\"" + install.player},
        {"a REG_EXPAND_SZ", REG_EXPAND_SZ, "%TEMP%\\mend player.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        SetValue(MainAppKey, nullptr, c.type, c.stored + std::string(1, '\0'));
        std::string output;
        EXPECT_EQ(0, RunProgram(Shellfind("repair"), output)) << output;
        const RegistryValue mended = QueryValue(HKEY_CLASSES_ROOT, MainAppKey);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), mended.type);
        EXPECT_EQ(c.type == REG_SZ ? install.player : player, mended.Text());
        EXPECT_EQ(mended.Text().size() + 1, mended.data.size());
        DeleteFileA(BackupPathIn(output).c_str());
    }
    DeleteFileA(player.c_str());
}

// A key repair would make, below a parent this user may not write, is an administrator's to
// mend, and nothing changes; below a parent that allows it, repair mends. And unregister without
// a module takes the one the class registers, before the one beside the player.
TEST_F(DoctorTest, WhatRepairAndUnregisterMayTouchIsDecidedWhereTheyWrite)
{
    SetWineVersion("shellfind.exe", "winxp");
    // The entry's key is gone; its parent is the shell's, not ours.
    constexpr char StaticParent[]
        = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FindExtensions\\Static";
    const struct {
        const char* parent;
        DWORD access;
        int exitCode;
        const char* says;
    } cases[] = {
        {"refuses writes", KEY_READ | WRITE_DAC, 3, "only an administrator"},
        {"allows them", KEY_ALL_ACCESS, 0, "repair: done"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.parent);
        ResetRegistry();
        MakeHealthyInstall();
        DeleteTree(HKEY_LOCAL_MACHINE, StaticKey);
        SetKeyAccessMask(HKEY_LOCAL_MACHINE, StaticParent, c.access);
        const RegistryExport before = OurKeysSnapshot();
        std::string output;
        EXPECT_EQ(c.exitCode, RunProgram(Shellfind("repair"), output)) << output;
        EXPECT_NE(std::string::npos, output.find(c.says)) << output;
        if (c.exitCode != 0) {
            EXPECT_EQ("", ChangedKeys(before, OurKeysSnapshot(), Changes::All)) << output;
        }
        SetKeyAccessMask(HKEY_LOCAL_MACHINE, StaticParent, KEY_ALL_ACCESS);
        DeleteFileA(BackupPathIn(output).c_str());
    }

    ResetRegistry();
    const Install install = MakeHealthyInstall();
    const std::string elsewhere = MakeScratchDirectory() + "\\" + ModuleFile;
    ASSERT_TRUE(CopyFileA(install.module.c_str(), elsewhere.c_str(), FALSE));
    SetDefaultText(HKEY_CLASSES_ROOT, ServerKey, elsewhere);
    // Beside the player, a file that has no DllUnregisterServer.
    ASSERT_TRUE(
        CopyFileA(BinPath("test_satellite_partial.dll").c_str(), install.module.c_str(), FALSE));
    std::string output;
    EXPECT_EQ(0, RunProgram(Shellfind("unregister"), output)) << output;
    EXPECT_NE(std::string::npos, output.find(elsewhere)) << output;
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey));
}
