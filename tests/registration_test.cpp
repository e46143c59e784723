// Self-registration: the registry layout value by value, the menu text by shell version, the
// registered module path, translated texts, and failures that must be reported.
#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "support/import_hook.h"
#include "support/test_support.h"

namespace {

constexpr char NewerMenuText[] = "For Internet &Audio/Video...";
constexpr char OlderMenuText[] = "Internet &Audio/Video...";
const HRESULT PathTooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);

class RegistrationTest : public RegistryTest {
protected:
    LoadedModule module_;
};

struct ExpectedValue {
    HKEY root;
    const char* key;
    const char* name;
    std::string data;
};

// Every value registration writes, with its type and bytes (exactly the text and its zero).
void ExpectLayout(const std::vector<ExpectedValue>& expected)
{
    for (const auto& value : expected) {
        RegistryValue actual = QueryValue(value.root, value.key, value.name);
        std::string label = std::string(value.key) + " [" + value.name + "]";
        ASSERT_TRUE(actual.found) << label;
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), actual.type) << label;
        std::vector<BYTE> bytes(value.data.begin(), value.data.end());
        bytes.push_back(0);
        EXPECT_EQ(bytes, actual.data) << label;
    }
}

bool NothingRegistered()
{
    return !KeyExists(HKEY_CLASSES_ROOT, ClassKey) && !KeyExists(HKEY_LOCAL_MACHINE, StaticKey);
}

} // namespace

TEST_F(RegistrationTest, WritesTheLayoutValueByValue)
{
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, "C:\\Apps\\Kestrovane\\player.exe");
    ASSERT_EQ(S_OK, module_.RegisterServer());
    const std::string modulePath = std::string("C:\\Apps\\Kestrovane\\") + ModuleFile;
    ExpectLayout({
        {HKEY_CLASSES_ROOT, ClassKey, "", "Orbelquest"},
        {HKEY_CLASSES_ROOT, ServerKey, "", modulePath},
        {HKEY_CLASSES_ROOT, ServerKey, "ThreadingModel", "Apartment"},
        {HKEY_LOCAL_MACHINE, StaticKey, "", ClassIdText},
        {HKEY_LOCAL_MACHINE, MenuKey, "", NewerMenuText},
        {HKEY_LOCAL_MACHINE, IconKey, "", modulePath},
    });
    EXPECT_EQ(10u, QueryValue(HKEY_CLASSES_ROOT, ServerKey, "ThreadingModel").data.size());
}

TEST_F(RegistrationTest, RegisteredModulePathSitsBesideThePlayer)
{
    // The longest kept part: the module path, with our file name, fills 1023 characters.
    const size_t longest = 1023 - (sizeof ModuleFile - 1);
    const std::string dirLongest = "C:\\" + std::string(longest - 4, 'd') + "\\";
    const struct {
        const char* label;
        bool setMainApp;
        std::string mainApp;
        HRESULT result;
        std::string modulePath;
    } cases[] = {
        {"no MainApp", false, "", S_OK, ModuleFile},
        // No directory named: the bare file name, never "player.exekvshellsearch.dll".
        {"no backslash", true, "player.exe", S_OK, ModuleFile},
        {"quoted, no backslash", true, "\"player.exe\"", S_OK, ModuleFile},
        {"forward slashes only", true, "C:/Apps/player.exe", S_OK, ModuleFile},
        {"plain", true, "C:\\Apps\\player.exe", S_OK, std::string("C:\\Apps\\") + ModuleFile},
        {"quoted", true, "\"C:\\Program Files\\K\\player.exe\"", S_OK,
            std::string("C:\\Program Files\\K\\") + ModuleFile},
        {"longest part kept", true, dirLongest + "p.exe", S_OK, dirLongest + ModuleFile},
        {"one character more", true, "C" + dirLongest + "p.exe", PathTooLong, ""},
    };
    for (const auto& c : cases) {
        ResetRegistry();
        if (c.setMainApp)
            SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, c.mainApp);
        EXPECT_EQ(c.result, module_.RegisterServer()) << c.label;
        if (FAILED(c.result)) {
            EXPECT_TRUE(NothingRegistered()) << c.label << ": something was written";
            continue;
        }
        EXPECT_EQ(c.modulePath, QueryValue(HKEY_CLASSES_ROOT, ServerKey).Text()) << c.label;
        EXPECT_EQ(c.modulePath, QueryValue(HKEY_LOCAL_MACHINE, IconKey).Text()) << c.label;
    }
}

namespace {
OSVERSIONINFOA reportedVersion;
BOOL reportedResult;
BOOL WINAPI ReportingGetVersionExA(OSVERSIONINFOA* info)
{
    if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA))
        return FALSE;
    if (reportedResult)
        *info = reportedVersion;
    info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    return reportedResult;
}
} // namespace

// The menu-text choice for each version a shell may report, edge rows included; the platform-1
// minor version is tested by itself.
TEST_F(RegistrationTest, MenuTextForReportedVersions)
{
    ImportHook hook(module_.handle, "KERNEL32.dll", "GetVersionExA",
        reinterpret_cast<void*>(&ReportingGetVersionExA));
    ASSERT_TRUE(hook.Installed());
    const struct {
        BOOL succeeds;
        DWORD platform, major, minor;
        const char* menuText;
    } cases[] = {
        {TRUE, VER_PLATFORM_WIN32_WINDOWS, 4, 0, OlderMenuText}, // Windows 95
        {TRUE, VER_PLATFORM_WIN32_WINDOWS, 4, 10, OlderMenuText}, // Windows 98
        {TRUE, VER_PLATFORM_WIN32_WINDOWS, 4, 11, NewerMenuText},
        {TRUE, VER_PLATFORM_WIN32_WINDOWS, 4, 90, NewerMenuText}, // Windows Me
        {TRUE, VER_PLATFORM_WIN32_WINDOWS, 5, 0, OlderMenuText}, // minor version by itself
        {TRUE, VER_PLATFORM_WIN32_WINDOWS, 3, 95, OlderMenuText},
        {TRUE, VER_PLATFORM_WIN32_NT, 3, 51, OlderMenuText}, // NT 3.51
        {TRUE, VER_PLATFORM_WIN32_NT, 4, 0, OlderMenuText}, // NT 4.0
        {TRUE, VER_PLATFORM_WIN32_NT, 5, 0, NewerMenuText}, // Windows 2000
        {TRUE, VER_PLATFORM_WIN32_NT, 5, 1, NewerMenuText}, // Windows XP
        {TRUE, VER_PLATFORM_WIN32_NT, 6, 1, NewerMenuText},
        {TRUE, VER_PLATFORM_WIN32s, 9, 99, OlderMenuText},
        {TRUE, 7, 10, 0, OlderMenuText}, // a platform no release has
        {FALSE, 0, 0, 0, OlderMenuText},
    };
    for (const auto& c : cases) {
        reportedResult = c.succeeds;
        reportedVersion = OSVERSIONINFOA{};
        reportedVersion.dwPlatformId = c.platform;
        reportedVersion.dwMajorVersion = c.major;
        reportedVersion.dwMinorVersion = c.minor;
        ASSERT_EQ(S_OK, module_.RegisterServer());
        EXPECT_EQ(c.menuText, QueryValue(HKEY_LOCAL_MACHINE, MenuKey).Text())
            << "platform " << c.platform << " " << c.major << "." << c.minor
            << (c.succeeds ? "" : " (call failed)");
    }
}

// The satellite is chosen at load, so these load the module afresh for each case.
class TranslatedRegistrationTest : public RegistryTest { };

TEST_F(TranslatedRegistrationTest, TextsComeFromTheSatellite)
{
    const struct {
        const char* satellite;
        const char* className;
        std::string menuText;
    } cases[] = {
        {"test_satellite.dll", "Orbelsuche", "F\xfcr Test-&Audio/Video..."},
        // Lacks the menu text: the module's own, never empty and never the class name.
        {"test_satellite_partial.dll", "Orbelsuche", "For Internet &Audio/Video..."},
        {"kvshellsearch-de.dll", "Orbelquest", "F\xfcr Internet-&Audio/Video..."}, // shipped
    };
    for (const auto& c : cases) {
        ResetRegistry();
        SetDefaultText(HKEY_CLASSES_ROOT, SatelliteKey, BinPath(c.satellite));
        LoadedModule translated;
        ASSERT_EQ(S_OK, translated.RegisterServer()) << c.satellite;
        EXPECT_EQ(c.className, QueryValue(HKEY_CLASSES_ROOT, ClassKey).Text()) << c.satellite;
        RegistryValue menu = QueryValue(HKEY_LOCAL_MACHINE, MenuKey);
        EXPECT_EQ(c.menuText, menu.Text()) << c.satellite;
        EXPECT_EQ(c.menuText.size() + 1, menu.data.size()) << c.satellite;
    }
}

TEST_F(RegistrationTest, RegisterTwiceAndUnregister)
{
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, "C:\\Apps\\player.exe");
    EXPECT_EQ(S_OK, module_.UnregisterServer()) << "nothing registered yet";
    ASSERT_EQ(S_OK, module_.RegisterServer());
    auto once = RegisteredState();
    ASSERT_EQ(S_OK, module_.RegisterServer());
    EXPECT_EQ(once, RegisteredState());
    EXPECT_EQ(6u + 5u, once.size()) << "five keys and six values";

    EXPECT_EQ(S_OK, module_.UnregisterServer());
    EXPECT_TRUE(NothingRegistered());
    EXPECT_EQ(S_OK, module_.UnregisterServer()) << "unregistering twice";
}

namespace {
int failingCall; // the 1-based call that fails with ERROR_ACCESS_DENIED; 0: none
int laterFailingCall; // a later call that fails with another error; 0: none
int callsSoFar;
LONG Next()
{
    ++callsSoFar;
    if (callsSoFar == failingCall)
        return ERROR_ACCESS_DENIED;
    return callsSoFar == laterFailingCall ? ERROR_WRITE_PROTECT : ERROR_SUCCESS;
}
decltype(&RegCreateKeyExA) realCreate;
decltype(&RegSetValueExA) realSet;
decltype(&RegDeleteKeyA) realDelete;
LONG WINAPI FailingCreate(HKEY root, LPCSTR path, DWORD reserved, LPSTR cls, DWORD options,
    REGSAM access, const SECURITY_ATTRIBUTES* security, PHKEY key, LPDWORD disposition)
{
    if (LONG status = Next())
        return status;
    return realCreate(root, path, reserved, cls, options, access,
        const_cast<SECURITY_ATTRIBUTES*>(security), key, disposition);
}
LONG WINAPI FailingSet(
    HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size)
{
    if (LONG status = Next())
        return status;
    return realSet(key, name, reserved, type, data, size);
}
LONG WINAPI FailingDelete(HKEY root, LPCSTR path)
{
    if (LONG status = Next())
        return status;
    return realDelete(root, path);
}
} // namespace

// Each registry create, write and delete fails in turn: the failure is reported, the rest is
// still done, and a clean registration afterwards repairs the state. When the first and the last
// call fail with different errors, the first is the one reported.
TEST_F(RegistrationTest, EveryFailingRegistryCallIsReported)
{
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, "C:\\Apps\\player.exe");
    ASSERT_EQ(S_OK, module_.RegisterServer());
    const auto registered = RegisteredState();
    const HRESULT denied = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);

    const struct {
        const char* function;
        void* replacement;
        void** real;
        int calls;
        bool registering;
    } cases[] = {
        {"RegCreateKeyExA", reinterpret_cast<void*>(&FailingCreate),
            reinterpret_cast<void**>(&realCreate), 5, true},
        {"RegSetValueExA", reinterpret_cast<void*>(&FailingSet), reinterpret_cast<void**>(&realSet),
            6, true},
        {"RegDeleteKeyA", reinterpret_cast<void*>(&FailingDelete),
            reinterpret_cast<void**>(&realDelete), 5, false},
    };
    for (const auto& c : cases) {
        // The last round fails the first call and, with another error, the last one.
        for (int failing = 1; failing <= c.calls + 2; ++failing) {
            const bool twoFailures = failing == c.calls + 2;
            std::string label = std::string(c.function) + " call "
                + (twoFailures ? "1 and " + std::to_string(c.calls) : std::to_string(failing));
            HRESULT expected = failing <= c.calls || twoFailures ? denied : S_OK;
            {
                ImportHook hook(module_.handle, "ADVAPI32.dll", c.function, c.replacement);
                ASSERT_TRUE(hook.Installed()) << c.function;
                *c.real = hook.Original();
                failingCall = twoFailures ? 1 : failing;
                laterFailingCall = twoFailures ? c.calls : 0;
                callsSoFar = 0;
                HRESULT result
                    = c.registering ? module_.RegisterServer() : module_.UnregisterServer();
                EXPECT_EQ(expected, result) << label;
                EXPECT_EQ(c.calls, callsSoFar) << label << ": every call was still made";
            }
            ASSERT_EQ(S_OK, module_.RegisterServer()) << label;
            EXPECT_EQ(registered, RegisteredState()) << label;
        }
    }
}

namespace {
int WINAPI FailingConversion(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL)
{
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
}
} // namespace

// Without the class identifier's text every class key would be "CLSID\" itself: nothing may be
// written or deleted then.
TEST_F(RegistrationTest, FailedClassIdConversionWritesAndDeletesNothing)
{
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, "C:\\Apps\\player.exe");
    ASSERT_EQ(S_OK, module_.RegisterServer());
    const auto registered = RegisteredState();
    const RegistryValue classesDefault = QueryValue(HKEY_CLASSES_ROOT, "CLSID");
    const HRESULT failed = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

    ImportHook hook(module_.handle, "KERNEL32.dll", "WideCharToMultiByte",
        reinterpret_cast<void*>(&FailingConversion));
    ASSERT_TRUE(hook.Installed());
    EXPECT_EQ(failed, module_.UnregisterServer());
    EXPECT_EQ(registered, RegisteredState()) << "unregistration deleted keys";

    ResetRegistry();
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, "C:\\Apps\\player.exe");
    EXPECT_EQ(failed, module_.RegisterServer());
    EXPECT_TRUE(NothingRegistered());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\InProcServer32"));
    const RegistryValue after = QueryValue(HKEY_CLASSES_ROOT, "CLSID");
    EXPECT_EQ(classesDefault.found, after.found) << "a value written into the CLSID key itself";
    EXPECT_EQ(classesDefault.data, after.data);
}

// Wine refuses a lasting key below a volatile one: a real failure, which regsvr32 must report.
TEST_F(RegistrationTest, RegsvrReportsARealRegistryFailure)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, StaticKey, 0, nullptr, REG_OPTION_VOLATILE,
            KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);
    int exitCode = RunProgram(
        "\"" + SystemProgram("regsvr32.exe") + "\" /s \"" + BinPath(ModuleFile) + "\"");
    EXPECT_EQ(5, exitCode) << "regsvr32's code for a failed DllRegisterServer";
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE), module_.RegisterServer());
}

TEST_F(RegistrationTest, ShellStandInNamesBrokenEntries)
{
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, "C:\\nowhere\\player.exe");
    ASSERT_EQ(S_OK, module_.RegisterServer());
    const std::string shellfind = "\"" + BinPath("shellfind.exe") + "\"";
    EXPECT_EQ(1, RunProgram(shellfind + " list")) << "icon does not load";
    EXPECT_EQ(5, RunProgram(shellfind + " invoke Orbelquest")) << "module not found";
    DeleteTree(HKEY_CLASSES_ROOT, ClassKey);
    EXPECT_EQ(4, RunProgram(shellfind + " invoke Orbelquest")) << "class not registered";
    EXPECT_EQ(3, RunProgram(shellfind + " invoke Nothing")) << "no such entry";
}
