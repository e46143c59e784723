#include "module_file.h"

#include <string.h>

namespace {

bool ReadAt(HANDLE file, DWORD offset, void* into, DWORD size)
{
    DWORD read = 0;
    return SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == offset
        && ReadFile(file, into, size, &read, nullptr) && read == size;
}

// The module keeps its product name in a section of its own, which the vendor tool rewrites.
void ReadProductName(HANDLE file, DWORD sectionTable, WORD sectionCount, char* name)
{
    for (WORD i = 0; i < sectionCount; ++i) {
        IMAGE_SECTION_HEADER section = {};
        if (!ReadAt(file, sectionTable + i * sizeof section, &section, sizeof section))
            return;
        if (memcmp(section.Name, ".kvname", 8) != 0)
            continue;
        char slot[260] = {};
        DWORD size = section.SizeOfRawData < sizeof slot ? section.SizeOfRawData : sizeof slot;
        if (ReadAt(file, section.PointerToRawData, slot, size)) {
            slot[sizeof slot - 1] = '\0';
            memcpy(name, slot, sizeof slot);
        }
        return;
    }
}

} // namespace

void ReadModuleFileFacts(const char* path, ModuleFileFacts& facts)
{
    memset(&facts, 0, sizeof facts);
    DWORD attributes = GetFileAttributesA(path);
    facts.exists
        = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!facts.exists)
        return;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    IMAGE_DOS_HEADER dos = {};
    DWORD signature = 0;
    IMAGE_FILE_HEADER header = {};
    if (ReadAt(file, 0, &dos, sizeof dos) && dos.e_magic == IMAGE_DOS_SIGNATURE && dos.e_lfanew > 0
        && ReadAt(file, static_cast<DWORD>(dos.e_lfanew), &signature, 4)
        && signature == IMAGE_NT_SIGNATURE
        && ReadAt(file, static_cast<DWORD>(dos.e_lfanew) + 4, &header, sizeof header)) {
        facts.isImage = true;
        facts.machine = header.Machine;
        facts.isDll = (header.Characteristics & IMAGE_FILE_DLL) != 0;
        DWORD sectionTable
            = static_cast<DWORD>(dos.e_lfanew) + 4 + sizeof header + header.SizeOfOptionalHeader;
        ReadProductName(file, sectionTable, header.NumberOfSections, facts.productName);
    }
    CloseHandle(file);
}

int MachineBits(WORD machine)
{
    switch (machine) {
    case IMAGE_FILE_MACHINE_I386:
        return 32;
    case IMAGE_FILE_MACHINE_AMD64:
        return 64;
    default:
        return 0;
    }
}

const char* MachineBitness(WORD machine)
{
    switch (MachineBits(machine)) {
    case 32:
        return "32-bit";
    case 64:
        return "64-bit";
    default:
        return "unknown-processor";
    }
}
