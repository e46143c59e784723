// The resources of both builds, read back with the module loaded as data only: the shipped
// 32-bit DLL cannot run here, but its resources can be read like any other file's.
#include <windows.h>

#include <set>
#include <string>
#include <tuple>

#include "support/test_support.h"

namespace {

const char* const Builds[] = {"shipped\\kvshellsearch.dll", ModuleFile};
const WORD EnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct IconGroupHeader {
    WORD reserved, type, count;
    IconGroupEntry entries[1];
};
#pragma pack(pop)

// Pixels that the AND mask makes transparent but whose colour is not black. Shells before
// Windows XP ignore alpha: they AND the mask onto the screen, then XOR the colours, so such a
// pixel shows as a coloured fringe.
int MaskedPixelsNotBlack(const BYTE* image)
{
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(image);
    const int size = header->biWidth;
    const int bits = header->biBitCount;
    const auto* palette = reinterpret_cast<const RGBQUAD*>(image + header->biSize);
    const DWORD colours = bits > 8 ? 0 : header->biClrUsed != 0 ? header->biClrUsed : 1u << bits;
    const BYTE* colourBits = reinterpret_cast<const BYTE*>(palette + colours);
    const int colourStride = (size * bits + 31) / 32 * 4;
    const BYTE* mask = colourBits + colourStride * size;
    const int maskStride = (size + 31) / 32 * 4;
    int notBlack = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            if ((mask[y * maskStride + x / 8] & (0x80 >> (x % 8))) == 0)
                continue;
            const BYTE* row = colourBits + y * colourStride;
            RGBQUAD colour = {};
            if (bits == 32)
                colour = reinterpret_cast<const RGBQUAD*>(row)[x];
            else if (bits == 8)
                colour = palette[row[x]];
            else
                colour = palette[(row[x / 2] >> (x % 2 ? 0 : 4)) & 0x0f];
            notBlack += (colour.rgbRed | colour.rgbGreen | colour.rgbBlue) != 0;
        }
    }
    return notBlack;
}

class DataModule {
public:
    explicit DataModule(const std::string& path)
        : handle(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE))
    {
    }
    ~DataModule()
    {
        if (handle != nullptr)
            FreeLibrary(handle);
    }
    HMODULE handle;
};

} // namespace

TEST(BuiltResources, StringsIconGroupAndVersion)
{
    for (const char* build : Builds) {
        const std::string path = BinPath(build);
        DataModule module(path);
        ASSERT_NE(nullptr, module.handle) << build;

        const struct {
            UINT id;
            const char* text;
        } strings[] = {
            {1, "For Internet &Audio/Video..."},
            {2, "Orbelquest"},
            {3, "Internet &Audio/Video..."},
        };
        for (const auto& s : strings) {
            char text[1024] = {};
            EXPECT_LT(0, LoadStringA(module.handle, s.id, text, sizeof text)) << build;
            EXPECT_STREQ(s.text, text) << build << " string " << s.id;
        }
        // Strings live in blocks of 16: IDs 1 to 3 are in block 1, in US English.
        EXPECT_NE(
            nullptr, FindResourceExA(module.handle, RT_STRING, MAKEINTRESOURCEA(1), EnglishUs))
            << build;

        HRSRC group
            = FindResourceExA(module.handle, RT_GROUP_ICON, MAKEINTRESOURCEA(101), EnglishUs);
        ASSERT_NE(nullptr, group) << build;
        auto* header
            = static_cast<const IconGroupHeader*>(LockResource(LoadResource(module.handle, group)));
        ASSERT_EQ(9, header->count) << build;
        std::set<std::tuple<int, int>> images;
        for (int i = 0; i < header->count; ++i) {
            const IconGroupEntry& entry = header->entries[i];
            int size = entry.width == 0 ? 256 : entry.width;
            EXPECT_EQ(entry.width, entry.height) << build;
            images.insert({size, entry.bitCount});
            HRSRC image
                = FindResourceExA(module.handle, RT_ICON, MAKEINTRESOURCEA(entry.id), EnglishUs);
            ASSERT_NE(nullptr, image) << build << " icon image " << entry.id;
            EXPECT_EQ(0,
                MaskedPixelsNotBlack(
                    static_cast<const BYTE*>(LockResource(LoadResource(module.handle, image)))))
                << build << " icon " << size << "x" << size << ", " << entry.bitCount << " bits";
        }
        std::set<std::tuple<int, int>> expected;
        for (int size : {48, 32, 16})
            for (int bits : {4, 8, 32})
                expected.insert({size, bits});
        EXPECT_EQ(expected, images) << build;

        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        ASSERT_LT(0u, size) << build;
        std::string info(size, '\0');
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, &info[0])) << build;
        const struct {
            const char* field;
            const char* value;
        } fields[] = {
            {"FileDescription", "Kestrovane Search Shell Extension"},
            {"OriginalFilename", build == Builds[0] ? "kvshellsearch.dll" : ModuleFile},
            {"ProductName", "Kestrovane"},
        };
        for (const auto& f : fields) {
            char* value = nullptr;
            UINT length = 0;
            std::string query = std::string("\\StringFileInfo\\040904E4\\") + f.field;
            ASSERT_TRUE(VerQueryValueA(
                info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
                << build << " " << f.field;
            EXPECT_STREQ(f.value, value) << build << " " << f.field;
        }
    }
}
