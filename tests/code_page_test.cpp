// The player in a path of the system's own characters. tests/CMakeLists.txt runs this once per
// code page of a translation, in a Wine whose ANSI code page it is, and once in the suites'
// default. In 932, 936 and 950 the path holds characters whose second byte is 0x5C, the
// backslash, at every level: whatever splits such a path by bytes registers a file that does
// not exist, reads the wrong environment variable or writes a backup regedit misreads.
#include <windows.h>

#include <stdlib.h>

#include <functional>
#include <string>
#include <vector>

#include "support/doctor_support.h"

namespace {

struct CodePagePath {
    UINT codePage;
    const char* directory; // below C:\, in UTF-8
    const char* file; // the player's file name, in UTF-8
    bool backslashSecondBytes; // in the directory and in the file name
};
const CodePagePath Paths[] = {
    {932, u8"Apps\\ソフト\\表", u8"表示.exe", true},
    {936, u8"Apps\\软件\\誠", u8"誠.exe", true},
    {949, u8"Apps\\소프트웨어", u8"한국.exe", false}, // 949 has no such second byte
    {950, u8"Apps\\軟體\\許功", u8"許功.exe", true},
    {1251, u8"Apps\\Проигрыватель", u8"Плеер.exe", false},
    {1252, u8"Apps\\Lecteur média", u8"Lecteur.exe", false},
};

// UTF-8 text in the system's ANSI code page, every character of it.
std::string Ansi(const char* utf8)
{
    wchar_t wide[MAX_PATH] = {};
    char ansi[2 * MAX_PATH] = {};
    BOOL lossy = FALSE;
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, MAX_PATH);
    WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, sizeof ansi, nullptr, &lossy);
    EXPECT_FALSE(lossy) << "code page " << GetACP() << " lacks a character of " << utf8;
    return ansi;
}

bool HasBackslashSecondByte(const std::string& text)
{
    for (const char* at = text.c_str(); *at != '\0'; at = CharNextA(at)) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*at)) && at[1] == '\\')
            return true;
    }
    return false;
}

std::string Q(const std::string& text)
{
    return "\"" + text + "\"";
}

// The route that registers the module beside the player, and the one that takes it away.
struct Route {
    const char* name;
    std::function<int(const std::string& directory)> install;
    std::function<int(const std::string& directory)> uninstall;
};

std::vector<Route> Routes()
{
    const std::string regsvr32 = Q(SystemProgram("regsvr32.exe")) + " /s ";
    auto copyModule = [](const std::string& directory) {
        return CopyFileA(
                   BinPath(ModuleFile).c_str(), (directory + "\\" + ModuleFile).c_str(), FALSE)
            ? 0
            : -1;
    };
    std::vector<Route> routes = {
        {"regsvr32",
            [=](const std::string& d) {
                return copyModule(d) != 0 ? -1 : RunProgram(regsvr32 + Q(d + "\\" + ModuleFile));
            },
            [=](const std::string& d) {
                return RunProgram(regsvr32 + "/u " + Q(d + "\\" + ModuleFile));
            }},
        {"shellfind register",
            [=](const std::string& d) {
                return copyModule(d) != 0
                    ? -1
                    : RunProgram(Shellfind("register " + Q(d + "\\" + ModuleFile)));
            },
            [](const std::string& d) {
                return RunProgram(Shellfind("unregister " + Q(d + "\\" + ModuleFile)));
            }},
#ifdef _WIN64
        {"our package",
            [](const std::string& d) {
                return Msiexec(
                    "/i " + Q(BinPath("kvshellsearch-x64.msi")) + " INSTALLDIR=" + Q(d + "\\"));
            },
            [](const std::string&) {
                return Msiexec("/x " + Q(BinPath("kvshellsearch-x64.msi")));
            }},
#else
        {"our package",
            [](const std::string& d) {
                return Msiexec(
                    "/i " + Q(BinPath("kvshellsearch-x86.msi")) + " INSTALLDIR=" + Q(d + "\\"));
            },
            [](const std::string&) {
                return Msiexec("/x " + Q(BinPath("kvshellsearch-x86.msi")));
            }},
        // NSIS installers are 32-bit programs: the 32-bit suite runs them. "_?=" keeps an NSIS
        // uninstaller in its place, so that it has finished when it returns.
        {"our setup program",
            [](const std::string&) {
                return RunProgram(Q(BinPath("kvshellsearch-setup.exe")) + " /S");
            },
            [](const std::string& d) {
                return RunProgram(Q(d + "\\kvshellsearch-uninstall.exe") + " /S _?=" + d);
            }},
        {"a vendor's NSIS installer",
            [](const std::string& d) {
                return RunProgram(Q(BinPath("vendor-player-setup.exe")) + " /S /D=" + d);
            },
            [](const std::string& d) {
                return RunProgram(Q(d + "\\uninst.exe") + " /S _?=" + d);
            }},
#endif
    };
    return routes;
}

class CodePageTest : public DoctorTest { };

} // namespace

TEST_F(CodePageTest, ThePlayersPathInThisCodePage)
{
    if (const char* expected = getenv("KV_EXPECT_CODE_PAGE")) {
        ASSERT_EQ(strtoul(expected, nullptr, 10), GetACP()) << "Wine did not take LANG";
    }
    const CodePagePath* row = nullptr;
    for (const CodePagePath& path : Paths)
        row = path.codePage == GetACP() ? &path : row;
    ASSERT_NE(nullptr, row) << "no path for code page " << GetACP();
    const std::string directory = "C:\\" + Ansi(row->directory);
    const std::string file = Ansi(row->file);
    const std::string player = directory + "\\" + file;
    const std::string module = directory + "\\" + ModuleFile;
    ASSERT_EQ(row->backslashSecondBytes, HasBackslashSecondByte(directory));
    ASSERT_EQ(row->backslashSecondBytes, HasBackslashSecondByte(file));
    InstallPlayer(player);

    for (const Route& route : Routes()) {
        SCOPED_TRACE(route.name);
        SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, Q(player));
        ASSERT_EQ(0, route.install(directory));
        EXPECT_EQ(module, QueryValue(HKEY_CLASSES_ROOT, ServerKey).Text());
        EXPECT_EQ(module, QueryValue(HKEY_LOCAL_MACHINE, IconKey).Text());
        std::string doctor;
        EXPECT_EQ(0, RunProgram(Shellfind("doctor"), doctor)) << doctor;
        PlayerLog log;
        EXPECT_EQ(0, RunProgram(Shellfind("invoke Orbelquest")));
        EXPECT_EQ(1u, log.WaitForLines(1).size());
        EXPECT_EQ(0, route.uninstall(directory));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey));
    }
    // Uninstalling took the module away, and a vendor's uninstaller its own player.
    InstallPlayer(player);
    ASSERT_TRUE(CopyFileA(BinPath(ModuleFile).c_str(), module.c_str(), FALSE));

    // Repair, and its backup given back by regedit: values and names ending in a character whose
    // second byte is 0x5C, and such a character before "n", "r", "0" and a quote.
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, player);
    ASSERT_EQ(0, RunProgram(Shellfind("register " + Q(module))));
    const std::string last = file.substr(0, CharNextA(file.c_str()) - file.c_str());
    for (const std::string& text : {last, last + "news", last + "rom", last + "0", last + "\"x\""})
        SetNamedValue(HKEY_CLASSES_ROOT, ClassKey, (last + text).c_str(), text.c_str(),
            static_cast<DWORD>(text.size() + 1), REG_SZ);
    SetNamedValue(HKEY_CLASSES_ROOT, ClassKey, last.c_str(), player.c_str(),
        static_cast<DWORD>(player.size() + 1), REG_SZ);
    SetDefaultText(HKEY_LOCAL_MACHINE, MenuKey, "");
    const RegistryExport before = OurKeysSnapshot();
    std::string output, doctor;
    ASSERT_EQ(0, RunProgram(Shellfind("repair"), output)) << output;
    EXPECT_EQ(0, RunProgram(Shellfind("doctor"), doctor)) << doctor;
    const std::string backup = BackupPathIn(output);
    ASSERT_NE("", backup) << output;
    DeleteTree(HKEY_CLASSES_ROOT, ClassKey);
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    EXPECT_EQ(0, RunProgram(Q(std::string(windows) + "\\regedit.exe") + " /s " + Q(backup)));
    EXPECT_EQ("", ChangedKeys(before, OurKeysSnapshot(), Changes::OursLost)) << backup;
    DeleteFileA(backup.c_str());
    ASSERT_EQ(0, RunProgram(Shellfind("repair"), output)) << output; // the backup's empty text
    DeleteFileA(BackupPathIn(output).c_str());

    // A bare MainApp that the shell's process finds in the system directory: the doctor agrees
    // with invoke that it starts.
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    const std::string systemPlayer = std::string(system) + "\\" + file;
    InstallPlayer(systemPlayer);
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, file);
    RunProgram(Shellfind("doctor"), doctor);
    EXPECT_EQ(std::string::npos, doctor.find("there is no program")) << doctor;
    PlayerLog log;
    EXPECT_EQ(0, RunProgram(Shellfind("invoke Orbelquest")));
    EXPECT_EQ(1u, log.WaitForLines(1).size());
    DeleteFileA(systemPlayer.c_str());

    // A blank product name is read from the variable named after the host's file: shellfind,
    // named as the player is, picks the entry of a module built with a blank name.
    const std::string host = MakeScratchDirectory() + "\\" + file;
    ASSERT_TRUE(CopyFileA(BinPath("shellfind.exe").c_str(), host.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(BinPath("rebranded-blank.dll").c_str(), module.c_str(), FALSE));
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, player);
    ASSERT_EQ(0, RunProgram(Q(SystemProgram("regsvr32.exe")) + " /s " + Q(module)));
    DeleteTree(HKEY_CLASSES_ROOT, MainAppKey);
    SetDefaultText(HKEY_CLASSES_ROOT,
        "Software\\Tessalquorin\\Acme Player\\6.0\\Preferences\\MainApp", player);
    SetEnvironmentVariableA(file.c_str(), "Acme Player");
    PlayerLog named;
    EXPECT_EQ(0, RunProgram(Q(host) + " invoke Orbelquest"));
    EXPECT_EQ(1u, named.WaitForLines(1).size());
    SetEnvironmentVariableA(file.c_str(), nullptr);
    DeleteTree(HKEY_CLASSES_ROOT, "Software\\Tessalquorin\\Acme Player");
}
