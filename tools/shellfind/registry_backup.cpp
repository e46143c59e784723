#include "registry_backup.h"

#include <new>

#include <string.h>

#include "console.h"
#include "text.h"

struct SavedValue {
    char* name;
    DWORD type;
    DWORD size;
    BYTE* data;
    SavedValue* next;
};

struct SavedKey {
    HKEY root;
    char path[1024];
    bool existed;
    SavedValue* values; // in the key's own order
    SavedKey* next;
};

namespace {

const char* RootName(HKEY root)
{
    if (root == HKEY_CLASSES_ROOT)
        return "HKEY_CLASSES_ROOT";
    if (root == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER";
    return "HKEY_LOCAL_MACHINE";
}

void FreeValues(SavedValue* value)
{
    while (value != nullptr) {
        SavedValue* next = value->next;
        delete[] value->name;
        delete[] value->data;
        delete value;
        value = next;
    }
}

bool ReadValues(HKEY key, SavedKey& saved)
{
    DWORD count = 0, longestName = 0, largestData = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
            &longestName, &largestData, nullptr, nullptr)
        != ERROR_SUCCESS)
        return false;
    // NT counts the longest name in characters, of which each may take two bytes in a
    // double-byte code page.
    longestName = 2 * longestName + 1;
    SavedValue** tail = &saved.values;
    for (DWORD i = 0; i < count; ++i) {
        auto* value = new (std::nothrow) SavedValue();
        if (value == nullptr)
            return false;
        *tail = value;
        tail = &value->next;
        value->name = new (std::nothrow) char[longestName + 1]();
        value->data = new (std::nothrow) BYTE[largestData + 1]();
        if (value->name == nullptr || value->data == nullptr)
            return false;
        DWORD nameSize = longestName + 1;
        value->size = largestData;
        if (RegEnumValueA(
                key, i, value->name, &nameSize, nullptr, &value->type, value->data, &value->size)
            != ERROR_SUCCESS)
            return false;
    }
    return true;
}

// Written through a buffer: WriteFile once a line or so, not once a byte.
class FileWriter {
public:
    explicit FileWriter(HANDLE file)
        : file_(file)
    {
    }
    ~FileWriter() { Flush(); }
    void Text(const char* text)
    {
        for (; *text != '\0'; ++text)
            Byte(*text);
    }
    void Byte(char c)
    {
        if (used_ == sizeof buffer_)
            Flush();
        buffer_[used_++] = c;
    }
    bool Flush()
    {
        DWORD written = 0;
        ok_ = ok_
            && (used_ == 0
                || (WriteFile(file_, buffer_, used_, &written, nullptr) && written == used_));
        used_ = 0;
        return ok_;
    }

private:
    HANDLE file_;
    char buffer_[4096] = {};
    DWORD used_ = 0;
    bool ok_ = true;
};

// Only a backslash or a quote that is a character of its own is escaped: in a double-byte code
// page the second byte of a character may be 0x5C, and regedit reads such a character whole.
void QuotedText(FileWriter& out, const char* text, size_t length)
{
    out.Byte('"');
    const char* const end = text + length;
    for (const char* at = text; at < end;) {
        const char* next = NextChar(at);
        if (next == at + 1 && (*at == '\\' || *at == '"'))
            out.Byte('\\');
        for (; at < next && at < end; ++at)
            out.Byte(*at);
    }
    out.Byte('"');
}

// A REG_SZ regedit reads back as it was: one terminating zero, no other, and no control
// character that would end or break the line.
bool IsPlainText(const SavedValue& value)
{
    if (value.type != REG_SZ || value.size == 0 || value.data[value.size - 1] != 0)
        return false;
    for (DWORD i = 0; i + 1 < value.size; ++i) {
        if (value.data[i] < 0x20)
            return false;
    }
    return true;
}

void WriteValue(FileWriter& out, const SavedValue& value)
{
    if (value.name[0] == '\0')
        out.Byte('@');
    else
        QuotedText(out, value.name, TextLength(value.name));
    out.Byte('=');
    char number[32] = {};
    if (IsPlainText(value)) {
        QuotedText(out, reinterpret_cast<const char*>(value.data), value.size - 1);
    } else if (value.type == REG_DWORD && value.size == 4) {
        DWORD data = 0;
        CopyBytes(&data, value.data, 4);
        FormatText(number, sizeof number, "dword:%08lx", static_cast<unsigned long>(data));
        out.Text(number);
    } else {
        // Any other type or shape, byte for byte, in lines as regedit writes them.
        if (value.type == REG_BINARY) {
            out.Text("hex:");
        } else {
            FormatText(number, sizeof number, "hex(%lx):", static_cast<unsigned long>(value.type));
            out.Text(number);
        }
        for (DWORD i = 0; i < value.size; ++i) {
            FormatText(number, sizeof number, "%02x", value.data[i]);
            out.Text(number);
            if (i + 1 < value.size)
                out.Text(i % 24 == 23 ? ",\\\r\n  " : ",");
        }
    }
    out.Text("\r\n");
}

bool DeleteValuesNotSaved(HKEY key, const SavedKey& saved)
{
    // Names first, then deletions: deleting while enumerating shifts the indexes.
    char name[16384];
    for (;;) {
        bool deleted = false;
        for (DWORD i = 0;; ++i) {
            DWORD size = sizeof name;
            if (RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr)
                != ERROR_SUCCESS)
                break;
            bool kept = false;
            for (const SavedValue* value = saved.values; value != nullptr; value = value->next)
                kept = kept || lstrcmpiA(value->name, name) == 0;
            if (!kept) {
                if (RegDeleteValueA(key, name) != ERROR_SUCCESS)
                    return false;
                deleted = true;
                break;
            }
        }
        if (!deleted)
            return true;
    }
}

// Whether the key holds exactly its saved values: then there is nothing to put back, and a key
// this user may only read is left alone.
bool IsAsSaved(const SavedKey& saved)
{
    HKEY key = nullptr;
    const LONG status = RegOpenKeyExA(saved.root, saved.path, 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS)
        return !saved.existed && status == ERROR_FILE_NOT_FOUND;
    DWORD count = 0, largest = 0;
    bool same = saved.existed
        && RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
               nullptr, &largest, nullptr, nullptr)
            == ERROR_SUCCESS;
    BYTE* data = new (std::nothrow) BYTE[largest + 1];
    same = same && data != nullptr;
    for (const SavedValue* value = saved.values; same && value != nullptr; value = value->next) {
        DWORD type = 0, size = largest + 1;
        same = count-- != 0
            && RegQueryValueExA(key, value->name, nullptr, &type, data, &size) == ERROR_SUCCESS
            && type == value->type && size == value->size && memcmp(data, value->data, size) == 0;
    }
    delete[] data;
    RegCloseKey(key);
    return same && count == 0;
}

} // namespace

RegistryBackup::~RegistryBackup()
{
    while (keys_ != nullptr) {
        SavedKey* next = keys_->next;
        FreeValues(keys_->values);
        delete keys_;
        keys_ = next;
    }
}

bool RegistryBackup::Save(HKEY root, const char* path)
{
    auto* saved = new (std::nothrow) SavedKey();
    if (saved == nullptr)
        return false;
    saved->root = root;
    lstrcpynA(saved->path, path, sizeof saved->path);
    saved->next = keys_;
    keys_ = saved;
    HKEY key = nullptr;
    const LONG status = RegOpenKeyExA(root, path, 0, KEY_READ, &key);
    if (status == ERROR_FILE_NOT_FOUND)
        return true;
    if (status != ERROR_SUCCESS)
        return false;
    saved->existed = true;
    const bool read = ReadValues(key, *saved);
    RegCloseKey(key);
    return read;
}

bool RegistryBackup::WriteRegedit4(char* path) const
{
    char directory[MAX_PATH] = {};
    const DWORD length = GetTempPathA(MAX_PATH, directory);
    if (length == 0 || length >= MAX_PATH - 32)
        return false;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (unsigned n = 1; n < 10000 && file == INVALID_HANDLE_VALUE; ++n) {
        FormatText(path, MAX_PATH, "%sshellfind-backup-%u.reg", directory, n);
        file = CreateFileA(
            path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS
            && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool written = false;
    {
        FileWriter out(file);
        out.Text("REGEDIT4\r\n");
        // Parents first, as saved: the list holds them the other way round.
        const SavedKey* order[64] = {};
        int count = 0;
        for (const SavedKey* key = keys_; key != nullptr && count < 64; key = key->next)
            order[count++] = key;
        for (int i = count - 1; i >= 0; --i) {
            if (!order[i]->existed)
                continue;
            out.Text("\r\n[");
            out.Text(RootName(order[i]->root));
            out.Byte('\\');
            out.Text(order[i]->path);
            out.Text("]\r\n");
            for (const SavedValue* value = order[i]->values; value != nullptr; value = value->next)
                WriteValue(out, *value);
        }
        out.Text("\r\n");
        written = out.Flush();
    }
    CloseHandle(file);
    return written;
}

bool RegistryBackup::Restore() const
{
    bool restored = true;
    // The deepest first: a key that did not exist goes after the keys below it.
    for (const SavedKey* saved = keys_; saved != nullptr; saved = saved->next) {
        if (IsAsSaved(*saved))
            continue;
        if (!saved->existed) {
            const LONG status = RegDeleteKeyA(saved->root, saved->path);
            restored = restored && (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND);
            continue;
        }
        HKEY key = nullptr;
        if (RegCreateKeyExA(
                saved->root, saved->path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)
            != ERROR_SUCCESS) {
            restored = false;
            continue;
        }
        restored = DeleteValuesNotSaved(key, *saved) && restored;
        for (const SavedValue* value = saved->values; value != nullptr; value = value->next)
            restored = RegSetValueExA(key, value->name, 0, value->type, value->data, value->size)
                    == ERROR_SUCCESS
                && restored;
        RegCloseKey(key);
    }
    return restored;
}
