// Preference values of every registry type and of awkward sizes and contents. None may crash
// the module; each gives its documented result, and a caller's buffer is untouched after
// every failed read.
#include <windows.h>
#include <shlobj.h>

#include <string.h>

#include <string>
#include <vector>

#include "preferences.h"
#include "support/import_hook.h"
#include "support/test_support.h"

namespace {

struct StoredValue {
    std::string label;
    DWORD type;
    std::string bytes;
};

std::vector<StoredValue> AwkwardValues()
{
    const struct {
        DWORD type;
        const char* name;
    } types[] = {
        {REG_NONE, "REG_NONE"},
        {REG_SZ, "REG_SZ"},
        {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
        {REG_BINARY, "REG_BINARY"},
        {REG_DWORD, "REG_DWORD"},
        {REG_MULTI_SZ, "REG_MULTI_SZ"},
        {REG_QWORD, "REG_QWORD"},
    };
    const size_t sizes[] = {0, 1, 259, 260, 261, 1022, 1023, 1024, 1025, 65536};
    std::vector<StoredValue> values;
    for (const auto& type : types) {
        for (size_t size : sizes) {
            std::string path = "C:\\" + std::string(size, 'p');
            path.resize(size);
            std::string high(size, '\0');
            for (size_t i = 0; i < size; ++i)
                high[i] = static_cast<char>(0x80 + i % 0x80);
            std::string embedded = path;
            if (size > 2)
                embedded[size / 2] = '\0';
            std::string terminated = path;
            std::string terminatedHigh = high;
            if (size > 0) {
                terminated.back() = '\0';
                terminatedHigh.back() = '\0';
            }
            const std::string prefix
                = std::string(type.name) + ", " + std::to_string(size) + " bytes, ";
            values.push_back({prefix + "terminated", type.type, terminated});
            values.push_back({prefix + "no zero", type.type, path});
            values.push_back({prefix + "bytes 0x80 and above", type.type, terminatedHigh});
            values.push_back({prefix + "embedded zero", type.type, embedded});
        }
    }
    return values;
}

// What the platform hands back for the stored value, read without any limit.
std::string AsReadBack(const char* key)
{
    RegistryValue value = QueryValue(HKEY_CLASSES_ROOT, key);
    return std::string(value.data.begin(), value.data.end());
}

// The one rule every preference read follows.
bool Fits(const std::string& bytes, size_t capacity)
{
    if (bytes.size() > capacity)
        return false;
    return bytes.size() < capacity || bytes.back() == '\0';
}

std::string TextOf(const std::string& bytes)
{
    return bytes.substr(0, bytes.find('\0'));
}

int winExecCalls;
std::string lastCommand;
UINT WINAPI RecordingWinExec(LPCSTR commandLine, UINT)
{
    ++winExecCalls;
    lastCommand = commandLine;
    return 33;
}

} // namespace

class BadInputTest : public RegistryTest { };

TEST_F(BadInputTest, MainAppOfEveryTypeSizeAndContent)
{
    LoadedModule module;
    ImportHook hook(
        module.handle, "KERNEL32.dll", "WinExec", reinterpret_cast<void*>(&RecordingWinExec));
    ASSERT_TRUE(hook.Installed());
    const size_t capacities[] = {1023, 1024};
    for (const StoredValue& value : AwkwardValues()) {
        ResetRegistry();
        SetDefaultValue(HKEY_CLASSES_ROOT, MainAppKey, value.bytes.data(),
            static_cast<DWORD>(value.bytes.size()), value.type);
        const std::string stored = AsReadBack(MainAppKey);

        for (size_t capacity : capacities) {
            std::vector<char> buffer(capacity + 1, static_cast<char>(0xA5));
            bool read = ReadMainAppPath(buffer.data(), static_cast<DWORD>(capacity));
            ASSERT_EQ(Fits(stored, capacity), read) << value.label << ", capacity " << capacity;
            if (read) {
                ASSERT_NE(nullptr, memchr(buffer.data(), '\0', capacity)) << value.label;
                EXPECT_EQ(TextOf(stored), std::string(buffer.data())) << value.label;
            } else {
                for (char c : buffer)
                    ASSERT_EQ(static_cast<char>(0xA5), c) << value.label << ": buffer changed";
            }
        }

        winExecCalls = 0;
        HRESULT launched = InvokeSearch(module);
        if (!Fits(stored, 1023)) {
            EXPECT_EQ(E_FAIL, launched) << value.label;
            EXPECT_EQ(0, winExecCalls) << value.label;
        } else if (winExecCalls == 1) {
            EXPECT_EQ(S_OK, launched) << value.label;
            EXPECT_LE(lastCommand.size(), 1023u) << value.label;
            EXPECT_EQ(" /search", lastCommand.substr(lastCommand.size() - 8)) << value.label;
            EXPECT_NE(std::string::npos, lastCommand.find(TextOf(stored))) << value.label;
        } else {
            EXPECT_EQ(E_FAIL, launched) << value.label << ": too long to take the switch";
            EXPECT_GT(TextOf(stored).size(), 1012u) << value.label;
        }

        HRESULT registered = module.RegisterServer();
        if (SUCCEEDED(registered)) {
            std::string path = QueryValue(HKEY_CLASSES_ROOT, ServerKey).Text();
            EXPECT_LE(path.size(), 1023u) << value.label;
            EXPECT_EQ(ModuleFile, path.substr(path.size() - (sizeof ModuleFile - 1)))
                << value.label;
        } else {
            EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), registered) << value.label;
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey)) << value.label;
        }
    }
}

TEST_F(BadInputTest, SatelliteOfEveryTypeSizeAndContentFallsBackToOwnTexts)
{
    for (const StoredValue& value : AwkwardValues()) {
        ResetRegistry();
        SetDefaultValue(HKEY_CLASSES_ROOT, SatelliteKey, value.bytes.data(),
            static_cast<DWORD>(value.bytes.size()), value.type);
        LoadedModule module;
        ASSERT_NE(nullptr, module.handle) << value.label;
        ASSERT_EQ(S_OK, module.RegisterServer()) << value.label;
        EXPECT_EQ("Orbelquest", QueryValue(HKEY_CLASSES_ROOT, ClassKey).Text()) << value.label;
    }
}

// The type is not looked at: a usable path is used whatever type it was stored as.
TEST_F(BadInputTest, SatellitePathStoredAsAnotherTypeIsStillUsed)
{
    const std::string path = BinPath("test_satellite.dll");
    for (DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_NONE}) {
        ResetRegistry();
        SetDefaultValue(HKEY_CLASSES_ROOT, SatelliteKey, path.c_str(),
            static_cast<DWORD>(path.size() + 1), type);
        LoadedModule module;
        ASSERT_EQ(S_OK, module.RegisterServer()) << "type " << type;
        EXPECT_EQ("Orbelsuche", QueryValue(HKEY_CLASSES_ROOT, ClassKey).Text()) << "type " << type;
    }
}
