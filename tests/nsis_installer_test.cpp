// The NSIS installers, 32-bit ANSI programs both: a vendor's installer that includes
// kvshellsearch.nsh, and our own setup program. Run silently under each Windows profile Wine can
// report to them (the 32-bit suite: 95 to XP; the WoW64 part: XP x64, both halves), they must
// write exactly what regsvr32 writes, approve the class on NT only, start the player through the
// entry, and leave nothing of ours behind after their uninstaller has really finished.
#include <windows.h>

#include <tlhelp32.h>

#include <string.h>

#include <iterator>
#include <string>
#include <vector>

#include "support/installer_support.h"

namespace {

constexpr char VolumeKey[] = "Software\\Tessalquorin\\Kestrovane\\6.0\\Preferences\\Volume";
constexpr char SetupUninstallKey[]
    = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KvShellSearch";
constexpr int AbortedByScript = 2; // NSIS's exit code for an installation the script stopped

struct Profile {
    const char* version; // Wine's name for it
    bool nt;
};
#ifdef _WIN64
const Profile Profiles[] = {{"winxp64", true}};
#else
const Profile Profiles[] = {{"win95", false}, {"win98", false}, {"winme", false}, {"nt40", true},
    {"win2k", true}, {"winxp", true}};
#endif

// One registry view of one bitness: its module's name, and the regsvr32 that writes it.
struct Half {
    REGSAM view;
    const char* module;
    std::string regsvr32;
};
std::vector<Half> Halves()
{
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
#ifdef _WIN64
    return {
        {KEY_WOW64_32KEY, "kvshellsearch.dll", std::string(windows) + "\\SysWOW64\\regsvr32.exe"},
        {KEY_WOW64_64KEY, "kvshellsearch64.dll", SystemProgram("regsvr32.exe")}};
#else
    return {{0, "kvshellsearch.dll", SystemProgram("regsvr32.exe")}};
#endif
}

void SetText(HKEY root, const char* path, const char* name, const char* text, REGSAM view)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
        RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr));
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
        static_cast<DWORD>(strlen(text) + 1));
    RegCloseKey(key);
}

// The player's preferences in every view, to see that uninstalling ours leaves them alone.
RegistryExport Preferences()
{
    RegistryExport all;
    for (const Half& half : Halves()) {
        RegistryExport view;
        ExportKeys(HKEY_CLASSES_ROOT, PreferencesRoot, view, half.view);
        for (const auto& value : view)
            all[std::to_string(half.view) + ":" + value.first] = value.second;
    }
    return all;
}

// An NSIS uninstaller copies itself to %TEMP%, starts the copy and returns at once: the
// uninstall has finished when the processes it started have ended too.
int UninstallAndWait(const std::string& commandLine)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(
            nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID != process.dwProcessId)
            continue;
        HANDLE child = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (child != nullptr) {
            WaitForSingleObject(child, 60000);
            CloseHandle(child);
        }
    }
    CloseHandle(snapshot);
    return static_cast<int>(code);
}

void DeleteTreeIn(HKEY root, const char* parent, const char* key, REGSAM view)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, parent, 0, KEY_ALL_ACCESS | view, &handle) == ERROR_SUCCESS) {
        RegDeleteTreeA(handle, key);
        RegCloseKey(handle);
    }
}

// What RegistryTest resets, in every view: a 32-bit installer writes the 32-bit one, which the
// doctor tests of the WoW64 part read too.
void ResetEveryView()
{
    for (const Half& half : Halves()) {
        DeleteTreeIn(HKEY_CLASSES_ROOT, "Software", "Tessalquorin", half.view);
        DeleteTreeIn(HKEY_CLASSES_ROOT, "CLSID", ClassIdText, half.view);
        DeleteTreeIn(HKEY_LOCAL_MACHINE,
            "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FindExtensions\\Static",
            "Orbelquest", half.view);
        DeleteTreeIn(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
            "KvShellSearch", half.view);
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, ApprovedKey, half.view, 0);
    }
}

#ifdef _WIN64
// Wine shows a 32-bit program the 64-bit HKCR\Software until the 32-bit view has a Software key
// of its own, which the installers' writes in that view make. Left behind, that key would hide
// the player's path, written in the 64-bit view, from the 32-bit programs of later tests.
constexpr char Classes32Software[] = "Software\\Classes\\Wow6432Node\\Software";
#endif

class NsisTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        ResetEveryView();
#ifdef _WIN64
        classes32SoftwareExisted_
            = KeyExists(HKEY_LOCAL_MACHINE, Classes32Software, KEY_WOW64_64KEY);
        if (!Wow64())
            GTEST_SKIP()
                << "32-bit setup programs: a system that runs 32-bit programs (WoW64 part)";
#endif
        for (const Half& half : Halves()) {
            ApproveNeighbour(half.view);
            SetText(HKEY_CLASSES_ROOT, VolumeKey, "", "7", half.view);
        }
    }
    void TearDown() override
    {
        for (const char* program : {"vendor-player-setup.exe", "vendor-player-unicode-setup.exe",
                 "kvshellsearch-setup.exe", "early-call-setup.exe", "regsvr32.exe",
                 "shellfind64.exe"})
            SetWineVersion(program, nullptr);
        ResetEveryView();
#ifdef _WIN64
        if (!classes32SoftwareExisted_) // only while empty: another key below it stays
            RegDeleteKeyExA(HKEY_LOCAL_MACHINE, Classes32Software, KEY_WOW64_64KEY, 0);
#endif
        RegistryTest::TearDown();
    }

    // Installed by a setup program in this profile: each half's keys equal what its regsvr32
    // writes for the same file, the approval is there on NT only, and the entry starts the player.
    void ExpectInstalled(const std::string& directory, const Profile& profile)
    {
        SetWineVersion("regsvr32.exe", profile.version);
        for (const Half& half : Halves()) {
            const std::string module = directory + "\\" + half.module;
            ASSERT_TRUE(FileExists(module)) << module;
            const RegistryExport installed = RegisteredState(half.view);
            EXPECT_FALSE(installed.empty()) << profile.version << ": " << half.module;
            EXPECT_EQ(0, RunProgram(Quoted(half.regsvr32) + " /s /u " + Quoted(module)));
            EXPECT_TRUE(RegisteredState(half.view).empty());
            EXPECT_EQ(0, RunProgram(Quoted(half.regsvr32) + " /s " + Quoted(module)));
            EXPECT_EQ(installed, RegisteredState(half.view))
                << profile.version << ": the setup and regsvr32 write different keys";
            EXPECT_EQ(profile.nt ? Approved : std::string("(none)"), Approval(half.view))
                << profile.version;
        }
        std::vector<std::string> shellfinds = {BinPath("shellfind.exe")};
        if (Wow64())
            shellfinds.push_back(BinPath("shipped\\shellfind.exe"));
        for (const std::string& shellfind : shellfinds) {
            PlayerLog log;
            EXPECT_EQ(0, RunProgram(Quoted(shellfind) + " invoke Orbelquest")) << shellfind;
            const std::vector<std::string> lines = log.WaitForLines(1);
            ASSERT_EQ(1u, lines.size()) << profile.version << ": " << shellfind;
            EXPECT_EQ(0u, lines[0].find(directory + "\\player.exe|")) << lines[0];
        }
    }

    // After the uninstall: no key, approval or file of ours, another extension's approval and
    // the player's preferences as they were.
    void ExpectRemoved(
        const std::string& directory, const RegistryExport& preferences, const char* profile)
    {
        for (const Half& half : Halves()) {
            EXPECT_TRUE(RegisteredState(half.view).empty()) << profile << ": keys left";
            EXPECT_EQ("(none)", Approval(half.view)) << profile << ": approval left";
            EXPECT_NE("(none)", Approval(half.view, NeighbourClass)) << profile;
            EXPECT_FALSE(FileExists(directory + "\\" + half.module)) << profile;
        }
        EXPECT_EQ(preferences, Preferences()) << profile;
    }

private:
#ifdef _WIN64
    bool classes32SoftwareExisted_ = true;
#endif
};

} // namespace

// The same include in the vendor's ANSI script and in its Unicode variant, which runs where
// NSIS's Unicode installers run: on NT.
TEST_F(NsisTest, VendorInstallerWritesWhatRegsvr32WritesAndUninstallLeavesNothing)
{
    const std::string directory = "C:\\Program Files\\Vendor Player";
    for (const char* installer : {"vendor-player-setup.exe", "vendor-player-unicode-setup.exe"}) {
        const bool unicode = strstr(installer, "unicode") != nullptr;
        for (const Profile& profile : Profiles) {
            if (unicode && !profile.nt)
                continue;
            SCOPED_TRACE(std::string(installer) + ", " + profile.version);
            const RegistryExport preferences = Preferences();
            SetWineVersion(installer, profile.version);
            SetWineVersion("shellfind64.exe", profile.version);
            // /D= must come last and unquoted, whatever spaces the path holds.
            ASSERT_EQ(0, RunProgram(Quoted(BinPath(installer)) + " /S /D=" + directory));
            ExpectInstalled(directory, profile);

            EXPECT_EQ(0, UninstallAndWait(Quoted(directory + "\\uninst.exe") + " /S"));
            ExpectRemoved(directory, preferences, profile.version);
            EXPECT_FALSE(FileExists(directory)) << "the directory stays";
        }
    }
}

TEST_F(NsisTest, SetupInstallsBesideThePlayerIsListedAndUninstallsItself)
{
    const std::string directory = "C:\\Program Files\\Kestrovane Setup";
    const std::string player = directory + "\\player.exe";
    const std::string uninstaller = directory + "\\kvshellsearch-uninstall.exe";
    InstallPlayer(player);
    for (const Profile& profile : Profiles) {
        for (const Half& half : Halves())
            SetText(HKEY_CLASSES_ROOT, MainAppKey, "", Quoted(player).c_str(), half.view);
        const RegistryExport preferences = Preferences();
        SetWineVersion("kvshellsearch-setup.exe", profile.version);
        SetWineVersion("shellfind64.exe", profile.version);
        ASSERT_EQ(0, RunProgram(Quoted(BinPath("kvshellsearch-setup.exe")) + " /S"))
            << profile.version;
        ExpectInstalled(directory, profile);
        // Listed where a 32-bit program's listing lands: the 32-bit view on 64-bit Windows.
        RegistryExport listing;
        ExportKeys(HKEY_LOCAL_MACHINE, SetupUninstallKey, listing, Halves()[0].view);
        EXPECT_EQ("1:" + Quoted(uninstaller) + " /S" + std::string(1, '\0'),
            listing[std::string(SetupUninstallKey) + "[QuietUninstallString]"]);

        EXPECT_EQ(0, UninstallAndWait(Quoted(uninstaller) + " /S"));
        ExpectRemoved(directory, preferences, profile.version);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SetupUninstallKey, Halves()[0].view))
            << profile.version;
        EXPECT_FALSE(FileExists(uninstaller)) << profile.version;
        EXPECT_TRUE(FileExists(player)) << profile.version << ": the player went too";
    }
}

// An entry that another installation has registered since ours keeps its registration and its
// approval when ours is uninstalled; only our file goes.
TEST_F(NsisTest, UninstallLeavesAnotherInstallationsEntryApproved)
{
    const std::string directory = "C:\\Program Files\\Vendor Player";
    const Profile& profile = Profiles[std::size(Profiles) - 1]; // NT, where approval counts
    SetWineVersion("vendor-player-setup.exe", profile.version);
    SetWineVersion("shellfind64.exe", profile.version);
    ASSERT_EQ(0, RunProgram(Quoted(BinPath("vendor-player-setup.exe")) + " /S /D=" + directory));
    const std::string other = "C:\\Other Player\\kvshellsearch.dll";
    for (const Half& half : Halves())
        SetText(HKEY_CLASSES_ROOT, ServerKey, "", other.c_str(), half.view);

    EXPECT_EQ(0, UninstallAndWait(Quoted(directory + "\\uninst.exe") + " /S"));
    for (const Half& half : Halves()) {
        EXPECT_EQ("1:" + other + std::string(1, '\0'),
            RegisteredState(half.view)[std::string(ServerKey) + "[]"])
            << half.module;
        EXPECT_EQ(Approved, Approval(half.view)) << half.module;
        EXPECT_FALSE(FileExists(directory + "\\" + half.module));
    }
}

// Before the player's path is written, or when it names another directory or no player, the
// installers stop with NSIS's "aborted by the script" and write nothing of ours.
TEST_F(NsisTest, WithoutThePlayerInItsPathTheInstallersStopAndWriteNothing)
{
    const std::string elsewhere = "C:\\Elsewhere";
    InstallPlayer(elsewhere + "\\player.exe");
    const std::string earlyDirectory = "C:\\Program Files\\Early Call";
    const struct {
        const char* what;
        const char* setup;
        const char* mainApp; // nullptr: none
        bool inEveryView;
        std::string directory; // where nothing of ours may appear
    } cases[] = {
        {"no MainApp yet", "early-call-setup.exe", nullptr, true, earlyDirectory},
        {"MainApp names another directory", "early-call-setup.exe", "C:\\Elsewhere\\player.exe",
            true, earlyDirectory},
        {"setup, no MainApp", "kvshellsearch-setup.exe", nullptr, true, elsewhere},
        {"setup, MainApp names no file", "kvshellsearch-setup.exe", "\"C:\\Elsewhere\\gone.exe\"",
            true, elsewhere},
#ifdef _WIN64
        {"MainApp in the 32-bit view only", "kvshellsearch-setup.exe", "C:\\Elsewhere\\player.exe",
            false, elsewhere},
#endif
    };
    for (const auto& test : cases) {
        DeleteTree(HKEY_CLASSES_ROOT, MainAppKey);
        for (const Half& half : Halves()) {
            RegDeleteKeyExA(HKEY_CLASSES_ROOT, MainAppKey, half.view, 0);
            if (test.mainApp != nullptr && (test.inEveryView || half.view != KEY_WOW64_64KEY))
                SetText(HKEY_CLASSES_ROOT, MainAppKey, "", test.mainApp, half.view);
        }
        EXPECT_EQ(AbortedByScript, RunProgram(Quoted(BinPath(test.setup)) + " /S")) << test.what;
        for (const Half& half : Halves()) {
            EXPECT_TRUE(RegisteredState(half.view).empty()) << test.what;
            EXPECT_EQ("(none)", Approval(half.view)) << test.what;
            EXPECT_FALSE(FileExists(test.directory + "\\" + half.module)) << test.what;
        }
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SetupUninstallKey, Halves()[0].view))
            << test.what;
    }
}
