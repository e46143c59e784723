// The 64-bit suite only, which builds the x64 package at the next version too, around a DLL whose
// version resource says so: installing a newer version over an older one leaves one product and
// one entry, and the newer DLL in place (versioned files win).
#include <windows.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {
// The installed products that carry the package's name, as Programs and Features lists them.
int InstalledProducts()
{
    const char* const uninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, uninstall, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    int count = 0;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const std::string product = std::string(uninstall) + "\\" + name;
        if (QueryValue(HKEY_LOCAL_MACHINE, product.c_str(), "DisplayName").Text()
            == "Kestrovane Search Shell Extension")
            ++count;
    }
    RegCloseKey(key);
    return count;
}

std::string FileVersion(const std::string& path)
{
    DWORD ignored = 0;
    std::vector<BYTE> info(GetFileVersionInfoSizeA(path.c_str(), &ignored));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    if (info.empty() || !GetFileVersionInfoA(path.c_str(), 0, DWORD(info.size()), info.data())
        || !VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &size))
        return "(none)";
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "."
        + std::to_string(LOWORD(fixed->dwFileVersionMS)) + "."
        + std::to_string(HIWORD(fixed->dwFileVersionLS)) + "."
        + std::to_string(LOWORD(fixed->dwFileVersionLS));
}
} // namespace

TEST_F(RegistryTest, NewerPackageReplacesTheOlderOne)
{
    const std::string player = "C:\\Program Files\\Kestrovane Upgrade\\player.exe";
    InstallPlayer(player);
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, player);

    const std::string installed
        = std::string("C:\\Program Files\\Kestrovane Upgrade\\") + ModuleFile;
    ASSERT_EQ(0, Msiexec("/i \"" + BinPath("kvshellsearch-x64.msi") + "\""));
    ASSERT_EQ(1, InstalledProducts());
    ASSERT_EQ(KV_FILE_VERSION, FileVersion(installed));
    ASSERT_EQ(0, Msiexec("/i \"" + BinPath("kvshellsearch-next-x64.msi") + "\""));

    EXPECT_EQ(1, InstalledProducts());
    EXPECT_EQ(KV_NEXT_FILE_VERSION, FileVersion(installed)) << "the older DLL was left in place";
    EXPECT_EQ(installed, QueryValue(HKEY_CLASSES_ROOT, ServerKey).Text());
    EXPECT_EQ("For Internet &Audio/Video...", QueryValue(HKEY_LOCAL_MACHINE, MenuKey).Text());

    EXPECT_EQ(0, Msiexec("/x \"" + BinPath("kvshellsearch-next-x64.msi") + "\""));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, StaticKey));
    EXPECT_EQ(0, InstalledProducts());
}
