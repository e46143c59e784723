// Starting the player through the loaded module: real launches of the stand-in player, and the
// exact command lines handed to WinExec where the paths are too long to exist.
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "support/import_hook.h"
#include "support/test_support.h"

namespace {

class LaunchTest : public RegistryTest {
protected:
    LoadedModule module_;
    PlayerLog log_;
};

} // namespace

TEST_F(LaunchTest, StartsThePlayerInSearchMode)
{
    const std::string spaced = "C:\\Program Files\\Kestrovane\\player.exe";
    InstallPlayer("C:\\Kestrovane\\player.exe");
    InstallPlayer(spaced);
    InstallPlayer("C:\\Program.exe"); // planted: an unquoted command line would start this one

    const struct {
        const char* label;
        std::string mainApp;
        std::string program;
        std::string commandLine;
    } cases[] = {
        {"plain path", "C:\\Kestrovane\\player.exe", "C:\\Kestrovane\\player.exe",
            "\"C:\\Kestrovane\\player.exe\" /search"},
        {"path with spaces", spaced, spaced, "\"" + spaced + "\" /search"},
        {"already quoted", "\"" + spaced + "\"", spaced, "\"" + spaced + "\" /search"},
    };
    size_t launches = 0;
    for (const auto& c : cases) {
        SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, c.mainApp);
        ASSERT_EQ(S_OK, InvokeSearch(module_)) << c.label;
        std::vector<std::string> lines = log_.WaitForLines(++launches);
        ASSERT_EQ(launches, lines.size()) << c.label;
        EXPECT_EQ(c.program + "|" + c.commandLine, lines.back()) << c.label;
    }
}

TEST_F(LaunchTest, FailsWithoutAPlayerToStart)
{
    const struct {
        const char* label;
        bool setValue;
        std::string mainApp;
    } cases[] = {
        {"no MainApp key", false, ""},
        {"empty value", true, ""},
        {"no such program", true, "C:\\nowhere\\player.exe"},
    };
    for (const auto& c : cases) {
        ResetRegistry();
        if (c.setValue)
            SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, c.mainApp);
        EXPECT_EQ(E_FAIL, InvokeSearch(module_)) << c.label;
    }

    ResetRegistry();
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
        RegCreateKeyExA(
            HKEY_CLASSES_ROOT, MainAppKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);
    EXPECT_EQ(E_FAIL, InvokeSearch(module_)) << "key without a default value";

    Sleep(200);
    EXPECT_TRUE(log_.Lines().empty());
}

namespace {
std::vector<std::string> commandsSeen;
std::vector<UINT> showModesSeen;
UINT WINAPI RecordingWinExec(LPCSTR commandLine, UINT show)
{
    commandsSeen.push_back(commandLine);
    showModesSeen.push_back(show);
    return 33; // what a successful start returns
}
} // namespace

TEST_F(LaunchTest, CommandLineLengthLimits)
{
    const struct {
        size_t length;
        bool quoted; // stored with its own opening quote
        bool launched;
    } cases[] = {
        {1013, false, true},
        {1014, false, false},
        {1014, true, true},
        {1015, true, false},
        {1022, false, false},
    };
    ImportHook hook(
        module_.handle, "KERNEL32.dll", "WinExec", reinterpret_cast<void*>(&RecordingWinExec));
    ASSERT_TRUE(hook.Installed());
    for (const auto& c : cases) {
        std::string path = c.quoted ? "\"C:\\" : "C:\\";
        path += std::string(c.length - path.size(), 'p');
        SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, path);
        commandsSeen.clear();
        showModesSeen.clear();

        HRESULT result = InvokeSearch(module_);
        std::string label = std::to_string(c.length) + (c.quoted ? " quoted" : " unquoted");
        if (!c.launched) {
            EXPECT_EQ(E_FAIL, result) << label;
            EXPECT_TRUE(commandsSeen.empty()) << label;
            continue;
        }
        EXPECT_EQ(S_OK, result) << label;
        ASSERT_EQ(1u, commandsSeen.size()) << label;
        std::string expected = (c.quoted ? path : "\"" + path + "\"") + " /search";
        EXPECT_EQ(expected, commandsSeen[0]) << label;
        EXPECT_EQ(static_cast<UINT>(SW_SHOWDEFAULT), showModesSeen[0]) << label;
    }
}

TEST_F(LaunchTest, WinExecErrorsGiveEFail)
{
    static UINT answer;
    struct Failing {
        static UINT WINAPI WinExec(LPCSTR, UINT) { return answer; }
    };
    ImportHook hook(
        module_.handle, "KERNEL32.dll", "WinExec", reinterpret_cast<void*>(&Failing::WinExec));
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, "C:\\Apps\\player.exe");
    const struct {
        UINT answer;
        HRESULT expected;
    } cases[] = {{0, E_FAIL}, {ERROR_FILE_NOT_FOUND, E_FAIL}, {31, E_FAIL}, {32, S_OK}};
    for (const auto& c : cases) {
        answer = c.answer;
        EXPECT_EQ(c.expected, InvokeSearch(module_)) << "WinExec answered " << c.answer;
    }
}

namespace {
std::vector<REGSAM> openAccess;
LONG WINAPI RecordingOpen(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY key)
{
    openAccess.push_back(access);
    return RegOpenKeyExA(root, path, options, access, key);
}
} // namespace

TEST_F(LaunchTest, ModuleReadsPreferencesWithReadAccessOnly)
{
    InstallPlayer("C:\\Kestrovane\\player.exe");
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, "C:\\Kestrovane\\player.exe");
    ImportHook hook(
        module_.handle, "ADVAPI32.dll", "RegOpenKeyExA", reinterpret_cast<void*>(&RecordingOpen));
    ASSERT_TRUE(hook.Installed());
    openAccess.clear();
    EXPECT_EQ(S_OK, InvokeSearch(module_));
    EXPECT_EQ(S_OK, module_.RegisterServer());
    ASSERT_EQ(2u, openAccess.size());
    for (REGSAM access : openAccess)
        EXPECT_EQ(static_cast<REGSAM>(KEY_READ), access);
    log_.WaitForLines(1);
}

TEST_F(RegistryTest, BlankSlotFindsThePlayerUnderTheHostsNameFromTheEnvironment)
{
    const char* variable = "kvshellsearch_tests.exe"; // this program's file name
    const char* acmeMainApp = "Software\\Tessalquorin\\Acme Player\\6.0\\Preferences\\MainApp";
    InstallPlayer("C:\\Acme\\player.exe");
    SetDefaultText(HKEY_CLASSES_ROOT, acmeMainApp, "C:\\Acme\\player.exe");
    SetEnvironmentVariableA(variable, "Acme Player");

    const std::string copy = BinPath("rebranded-blank.dll"); // blanked by the rebrand tool
    PlayerLog log;
    {
        LoadedModule module(copy);
        ASSERT_NE(nullptr, module.handle);
        EXPECT_EQ(S_OK, InvokeSearch(module));
        // The name was settled at load; a later change of the environment does not move it.
        SetEnvironmentVariableA(variable, "Other Player");
        EXPECT_EQ(S_OK, InvokeSearch(module));
        EXPECT_EQ(2u, log.WaitForLines(2).size());
    }
    {
        SetEnvironmentVariableA(variable, nullptr);
        LoadedModule module(copy); // no variable: the default name, whose key has no MainApp
        EXPECT_EQ(E_FAIL, InvokeSearch(module));
    }
}

TEST_F(RegistryTest, RebrandedModuleFindsThePlayerUnderItsOwnName)
{
    const char* acmeMainApp = "Software\\Tessalquorin\\Acme Player\\6.0\\Preferences\\MainApp";
    InstallPlayer("C:\\Acme\\player.exe");
    SetDefaultText(HKEY_CLASSES_ROOT, acmeMainApp, "C:\\Acme\\player.exe");
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, "C:\\nowhere\\player.exe");
    SetEnvironmentVariableA("kvshellsearch_tests.exe", "Other Player"); // a filled slot ignores it
    PlayerLog log;
    {
        LoadedModule module(BinPath("rebranded-acme.dll"));
        ASSERT_NE(nullptr, module.handle);
        EXPECT_EQ(S_OK, InvokeSearch(module));
        std::vector<std::string> lines = log.WaitForLines(1);
        ASSERT_EQ(1u, lines.size());
        EXPECT_EQ("C:\\Acme\\player.exe|\"C:\\Acme\\player.exe\" /search", lines[0]);
    }
    SetEnvironmentVariableA("kvshellsearch_tests.exe", nullptr);
}
