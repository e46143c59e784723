#include "support/installer_support.h"

std::string Approval(REGSAM view, const char* classId)
{
    RegistryExport values;
    ExportKeys(HKEY_LOCAL_MACHINE, ApprovedKey, values, view);
    auto value = values.find(std::string(ApprovedKey) + "[" + classId + "]");
    return value == values.end() ? "(none)" : value->second;
}

const std::string Approved = "1:Orbelquest" + std::string(1, '\0');

void ApproveNeighbour(REGSAM view)
{
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, ApprovedKey, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
        &key, nullptr);
    RegSetValueExA(key, NeighbourClass, 0, REG_SZ, reinterpret_cast<const BYTE*>("Neighbour"), 10);
    RegCloseKey(key);
}

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
