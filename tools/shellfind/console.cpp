#include "console.h"

#include <windows.h>

namespace {

class Writer {
public:
    Writer(char* text, size_t size)
        : text_(text)
        , size_(size)
    {
    }
    void Put(char c)
    {
        if (length_ + 1 < size_)
            text_[length_++] = c;
    }
    void Finish()
    {
        if (size_ != 0)
            text_[length_ < size_ ? length_ : size_ - 1] = '\0';
    }

private:
    char* text_;
    size_t size_;
    size_t length_ = 0;
};

void PutNumber(Writer& out, unsigned long value, unsigned base, bool upper, bool negative,
    unsigned width, char pad)
{
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char reversed[24];
    unsigned count = 0;
    do {
        reversed[count++] = digits[value % base];
        value /= base;
    } while (value != 0);
    unsigned length = count + (negative ? 1 : 0);
    if (negative && pad == '0')
        out.Put('-');
    for (; width > length; --width)
        out.Put(pad);
    if (negative && pad != '0')
        out.Put('-');
    while (count != 0)
        out.Put(reversed[--count]);
}

char* captured = nullptr;
size_t capturedSize = 0;

void Write(DWORD handle, const char* format, va_list arguments)
{
    char text[8192];
    FormatTextV(text, sizeof text, format, arguments);
    DWORD length = static_cast<DWORD>(lstrlenA(text));
    if (captured != nullptr) {
        const size_t used = static_cast<size_t>(lstrlenA(captured));
        lstrcpynA(captured + used, text, static_cast<int>(capturedSize - used));
        return;
    }
    DWORD written = 0;
    WriteFile(GetStdHandle(handle), text, length, &written, nullptr);
}

} // namespace

void FormatTextV(char* text, size_t size, const char* format, va_list arguments)
{
    Writer out(text, size);
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            out.Put(*p);
            continue;
        }
        ++p;
        char pad = ' ';
        if (*p == '0') {
            pad = '0';
            ++p;
        }
        unsigned width = 0;
        for (; *p >= '0' && *p <= '9'; ++p)
            width = width * 10 + static_cast<unsigned>(*p - '0');
        bool isLong = false;
        if (*p == 'l') {
            isLong = true;
            ++p;
        }
        switch (*p) {
        case 's': {
            const char* s = va_arg(arguments, const char*);
            for (s = s != nullptr ? s : "(null)"; *s != '\0'; ++s)
                out.Put(*s);
            break;
        }
        case 'c':
            out.Put(static_cast<char>(va_arg(arguments, int)));
            break;
        case 'd':
        case 'i': {
            long value = isLong ? va_arg(arguments, long) : va_arg(arguments, int);
            unsigned long magnitude = value < 0 ? 0UL - static_cast<unsigned long>(value)
                                                : static_cast<unsigned long>(value);
            PutNumber(out, magnitude, 10, false, value < 0, width, pad);
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            unsigned long value
                = isLong ? va_arg(arguments, unsigned long) : va_arg(arguments, unsigned);
            PutNumber(out, value, *p == 'u' ? 10 : 16, *p == 'X', false, width, pad);
            break;
        }
        case '%':
            out.Put('%');
            break;
        case '\0':
            --p; // a lone % at the end
            break;
        default:
            out.Put('%');
            out.Put(*p);
            break;
        }
    }
    out.Finish();
}

// C's own variadic form on purpose: it is printf's, and the compiler checks the formats.
void FormatText(char* text, size_t size, const char* format, ...) // NOLINT(cert-dcl50-cpp)
{
    va_list arguments; // NOLINT(cppcoreguidelines-init-variables): va_start sets it
    va_start(arguments, format);
    FormatTextV(text, size, format, arguments);
    va_end(arguments);
}

void CaptureOutput(char* text, size_t size)
{
    text[0] = '\0';
    captured = text;
    capturedSize = size;
}

// C's own variadic form on purpose: it is printf's, and the compiler checks the formats.
void Print(const char* format, ...) // NOLINT(cert-dcl50-cpp)
{
    va_list arguments; // NOLINT(cppcoreguidelines-init-variables): va_start sets it
    va_start(arguments, format);
    Write(STD_OUTPUT_HANDLE, format, arguments);
    va_end(arguments);
}

// C's own variadic form on purpose: it is printf's, and the compiler checks the formats.
void PrintError(const char* format, ...) // NOLINT(cert-dcl50-cpp)
{
    va_list arguments; // NOLINT(cppcoreguidelines-init-variables): va_start sets it
    va_start(arguments, format);
    Write(STD_ERROR_HANDLE, format, arguments);
    va_end(arguments);
}
