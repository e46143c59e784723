// What most tests need: the module under test, the registry keys it touches, the stand-in
// player and its log, and starting helper programs.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

constexpr char ClassIdText[] = "{5E3C1A77-0B94-4F2D-9A61-7C2E8D40B513}";
constexpr CLSID ClassId
    = {0x5e3c1a77, 0x0b94, 0x4f2d, {0x9a, 0x61, 0x7c, 0x2e, 0x8d, 0x40, 0xb5, 0x13}};
constexpr char PreferencesRoot[] = "Software\\Tessalquorin";
constexpr char MainAppKey[] = "Software\\Tessalquorin\\Kestrovane\\6.0\\Preferences\\MainApp";
constexpr char SatelliteKey[]
    = "Software\\Tessalquorin\\Kestrovane\\6.0\\Preferences\\SatelliteShellSearch";
constexpr char ClassKey[] = "CLSID\\{5E3C1A77-0B94-4F2D-9A61-7C2E8D40B513}";
constexpr char ServerKey[] = "CLSID\\{5E3C1A77-0B94-4F2D-9A61-7C2E8D40B513}\\InProcServer32";
constexpr char StaticKey[]
    = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FindExtensions\\Static\\Orbelquest";
constexpr char MenuKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FindExtensions"
                           "\\Static\\Orbelquest\\0";
constexpr char IconKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FindExtensions"
                           "\\Static\\Orbelquest\\0\\DefaultIcon";

// The module's file name, which its registration names beside the player: each bitness has its own.
#ifdef _WIN64
constexpr char ModuleFile[] = "kvshellsearch64.dll";
#else
constexpr char ModuleFile[] = "kvshellsearch.dll";
#endif

// A file beside the test program (the module, the helpers, the satellites).
std::string BinPath(const std::string& name);
// A fresh, empty directory below the prefix's temporary directory.
std::string MakeScratchDirectory();

// Registry
void DeleteTree(HKEY root, const char* path);
void ResetRegistry(); // preferences, class keys and the Find entry
void SetNamedValue(
    HKEY root, const char* path, const char* name, const void* data, DWORD size, DWORD type);
void SetDefaultValue(HKEY root, const char* path, const void* data, DWORD size, DWORD type);
void SetDefaultText(HKEY root, const char* path, const std::string& text); // with its zero
// view: 0, or KEY_WOW64_32KEY / KEY_WOW64_64KEY for one registry view of a 64-bit system.
bool KeyExists(HKEY root, const char* path, REGSAM view = 0);
struct RegistryValue {
    bool found = false;
    DWORD type = 0;
    std::vector<BYTE> data;
    std::string Text() const; // the data up to its first zero
};
RegistryValue QueryValue(HKEY root, const char* path, const char* name = "");
// Every key and value below root\path, as "path" and "path[value]" -> "type:bytes", for
// comparing whole states.
using RegistryExport = std::map<std::string, std::string>;
void ExportKeys(HKEY root, const std::string& path, RegistryExport& into, REGSAM view = 0);
// What registration writes: the class keys and the Find entry, every key and value.
RegistryExport RegisteredState(REGSAM view = 0);

// The module under test, loaded for the life of the object.
struct LoadedModule {
    explicit LoadedModule(const std::string& path = BinPath(ModuleFile));
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    HMODULE handle = nullptr;
    HRESULT(STDAPICALLTYPE* GetClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* CanUnloadNow)() = nullptr;
    HRESULT(STDAPICALLTYPE* RegisterServer)() = nullptr;
    HRESULT(STDAPICALLTYPE* UnregisterServer)() = nullptr;
};

// Makes an extension object through the module's own class object.
IUnknown* CreateExtension(const LoadedModule& module);
// Picks the entry: a fresh extension object's InvokeCommand with the given verb.
HRESULT InvokeSearch(const LoadedModule& module, LPCSTR verb = MAKEINTRESOURCEA(0));

// The stand-in player, copied to a path of the test's choosing, and the log it writes.
void InstallPlayer(const std::string& path);
class PlayerLog {
public:
    PlayerLog(); // a fresh log, named to every program started from now on
    ~PlayerLog();
    // The lines "<program path>|<command line>" once count lines are there (or the timeout).
    std::vector<std::string> WaitForLines(size_t count, DWORD timeoutMs = 10000) const;
    std::vector<std::string> Lines() const;

private:
    std::string path_;
};

// A program of the platform's system directory (regsvr32.exe, reg.exe).
std::string SystemProgram(const char* name);
// Runs the platform's msiexec.exe with these arguments, silently (/qn) unless another user
// interface level is given; its exit code.
int Msiexec(const std::string& arguments, const char* interfaceLevel = "/qn");
// Starts a program, waits for it, and returns its exit code (or -1 if it could not start).
int RunProgram(const std::string& commandLine, DWORD timeoutMs = 60000);
// The same, with what the program wrote to its standard output.
int RunProgram(const std::string& commandLine, std::string& output, DWORD timeoutMs = 60000);
// The Windows version Wine reports to a program (its file name) from its next start: a profile
// such as "winxp", or nullptr for the prefix's default.
void SetWineVersion(const char* program, const char* version);

// Whether 32-bit programs run beside this 64-bit one: a WoW64 Wine (scripts/wine-session.sh
// wow64 says so in KV_WOW64). Always false in the 32-bit suite.
bool Wow64();

// Every test that touches the registry starts and ends with a clean slate.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { ResetRegistry(); }
    void TearDown() override { ResetRegistry(); }
};
