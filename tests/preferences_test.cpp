// The product name and the MainApp read, called directly on the module's own launch-path code.
#include <windows.h>

#include <string.h>

#include <string>

#include "kvshellsearch.h"
#include "preferences.h"
#include "registry_access.h"
#include "support/import_hook.h"
#include "support/test_support.h"

TEST(FileNameOfPath, SplitsAtTheLastBackslashElseTheLastSlash)
{
    const struct {
        const char* path;
        const char* name;
    } cases[] = {
        {"C:\\Apps\\host.exe", "host.exe"},
        {"C:/Apps/host.exe", "host.exe"},
        {"C:\\Apps/sub\\host.exe", "host.exe"},
        {"C:\\Apps\\sub/host.exe", "sub/host.exe"}, // a slash behind the last backslash stays
        {"host.exe", "host.exe"},
        {"C:\\Apps\\", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.name, FileNameOfPath(c.path)) << "path " << c.path;
}

class ProductNameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        memcpy(saved_, ProductNameSlot, sizeof saved_);
        char self[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, self, MAX_PATH - 1);
        variable_ = FileNameOfPath(self);
    }
    void TearDown() override
    {
        memcpy(ProductNameSlot, saved_, sizeof saved_);
        SetEnvironmentVariableA(variable_.c_str(), nullptr);
    }
    void EmptySlot() { memset(ProductNameSlot, 0, sizeof ProductNameSlot); }

    char saved_[sizeof ProductNameSlot];
    std::string variable_; // named after this test program's file name
};

TEST_F(ProductNameTest, EmptySlotTakesTheEnvironmentValueThatFits)
{
    const struct {
        const char* label;
        bool set;
        size_t length;
        bool taken;
    } cases[] = {
        {"missing", false, 0, false},
        {"empty", true, 0, false},
        {"1 character", true, 1, true},
        {"259 characters", true, 259, true},
        {"260 characters", true, 260, false},
        {"261 characters", true, 261, false},
        {"32766 characters, the most Windows keeps", true, 32766, false},
    };
    for (const auto& c : cases) {
        EmptySlot();
        std::string value(c.length, 'n');
        SetEnvironmentVariableA(variable_.c_str(), c.set ? value.c_str() : nullptr);
        const char* name = GetProductName();
        EXPECT_EQ(ProductNameSlot, name) << c.label;
        EXPECT_STREQ(c.taken ? value.c_str() : "Kestrovane", name) << c.label;
        EXPECT_EQ('\0', ProductNameSlot[sizeof ProductNameSlot - 1]) << c.label;
    }
}

TEST_F(ProductNameTest, FilledSlotIsKeptWithoutReadingTheEnvironmentAgain)
{
    EmptySlot();
    SetEnvironmentVariableA(variable_.c_str(), "Acme Player");
    EXPECT_STREQ("Acme Player", GetProductName());
    SetEnvironmentVariableA(variable_.c_str(), "Other Player");
    EXPECT_STREQ("Acme Player", GetProductName());
}

TEST_F(ProductNameTest, BuiltInNameIgnoresTheEnvironment)
{
    SetEnvironmentVariableA(variable_.c_str(), "Other Player");
    EXPECT_STREQ("Kestrovane", GetProductName());
}

class MainAppReadTest : public RegistryTest { };

// The bytes as stored, the capacity the caller passes, and what the caller must see.
TEST_F(MainAppReadTest, StoredValuesAgainstTheCapacity)
{
    const std::string full1023(1023, 'a');
    const struct {
        const char* label;
        std::string stored; // stored exactly as given, no zero added
        DWORD capacity;
        bool read;
        const char* text; // on success
    } cases[] = {
        {"terminated", std::string("C:\\p.exe", 9), 1023, true, "C:\\p.exe"},
        {"unterminated, shorter than capacity", "C:\\p.exe", 1023, true, "C:\\p.exe"},
        {"empty", "", 1023, true, ""},
        {"embedded zero", std::string("C:\\a.exe\0junk", 14), 1023, true, "C:\\a.exe"},
        {"fills capacity with its zero", std::string(1022, 'a') + '\0', 1023, true, nullptr},
        {"fills capacity without a zero", full1023, 1023, false, nullptr},
        {"larger than capacity", full1023 + '\0', 1023, false, nullptr},
        {"fills 1024 without a zero", full1023 + 'a', 1024, false, nullptr},
    };
    for (const auto& c : cases) {
        SetDefaultValue(HKEY_CLASSES_ROOT, MainAppKey, c.stored.data(),
            static_cast<DWORD>(c.stored.size()), REG_SZ);
        char buffer[1025];
        memset(buffer, 0xCD, sizeof buffer); // poisoned: a failure must leave every byte
        bool read = ReadMainAppPath(buffer, c.capacity);
        EXPECT_EQ(c.read, read) << c.label;
        if (read) {
            ASSERT_NE(nullptr, memchr(buffer, '\0', c.capacity)) << c.label << ": unterminated";
            EXPECT_EQ(c.text ? std::string(c.text) : c.stored.substr(0, c.stored.find('\0')),
                std::string(buffer))
                << c.label;
        } else {
            for (size_t i = 0; i < sizeof buffer; ++i)
                ASSERT_EQ(static_cast<char>(0xCD), buffer[i]) << c.label << ": byte " << i;
        }
    }
}

TEST_F(MainAppReadTest, MissingKeyOrValueReadsNothing)
{
    char buffer[1024];
    memset(buffer, 0xCD, sizeof buffer);
    EXPECT_FALSE(ReadMainAppPath(buffer, sizeof buffer)) << "no key";

    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
        RegCreateKeyExA(
            HKEY_CLASSES_ROOT, MainAppKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExA(key, "Other", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
    RegCloseKey(key);
    EXPECT_FALSE(ReadMainAppPath(buffer, sizeof buffer)) << "key without a default value";
    EXPECT_EQ(static_cast<char>(0xCD), buffer[0]);
}

namespace {
std::vector<REGSAM> accessAsked;
decltype(&RegOpenKeyExA) realRegOpenKeyExA;
// Hooked in this program's own table, so the real function is reached through the saved pointer.
LONG WINAPI RecordingRegOpenKeyExA(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY key)
{
    accessAsked.push_back(access);
    return realRegOpenKeyExA(root, path, options, access, key);
}
} // namespace

// Wine grants every access asked for, so only the request itself can show a read that a
// standard user would be refused.
TEST_F(MainAppReadTest, PreferenceReadsAskForReadAccessOnly)
{
    SetDefaultText(HKEY_CLASSES_ROOT, MainAppKey, "C:\\nowhere\\player.exe");
    const REGSAM writeRights
        = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;
    accessAsked.clear();
    {
        ImportHook hook(GetModuleHandleA(nullptr), "ADVAPI32.dll", "RegOpenKeyExA",
            reinterpret_cast<void*>(&RecordingRegOpenKeyExA));
        ASSERT_TRUE(hook.Installed());
        realRegOpenKeyExA = reinterpret_cast<decltype(&RegOpenKeyExA)>(hook.Original());
        char buffer[TextBufferSize] = {};
        EXPECT_TRUE(ReadMainAppPath(buffer, sizeof buffer));
        EXPECT_TRUE(ReadDefaultTextValue(HKEY_CLASSES_ROOT, MainAppKey, buffer, 260));
    }
    ASSERT_EQ(2u, accessAsked.size());
    for (REGSAM access : accessAsked)
        EXPECT_EQ(0u, access & writeRights) << "asked for 0x" << std::hex << access;
}
