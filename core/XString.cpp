#include "XString.h"

#include "XException.h"
#include "XMemory.h"

#include <cstdio>
#include <cstring>

namespace {
const char kMemoryError[] = "XString memory error";

char* CopyText(const char* source, std::size_t length)
{
    char* copy = static_cast<char*>(XAlloc(length + 1));
    if (!copy)
        throw XMemoryException(kMemoryError);
    std::memcpy(copy, source, length);
    copy[length] = 0;
    return copy;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal number at p and moves p past its digits.
int ReadNumber(const char*& p)
{
    int value = 0;
    for (; IsDigit(*p); ++p)
        value = value * 10 + (*p - '0');
    return value;
}

enum Modifier { kNone, kShort, kLong, kLongLong, kLongDouble };

// Consumes one argument of a numeric conversion in the type the modifier names,
// so that the walk stays in step with the argument list.
void SkipInteger(Modifier modifier, va_list* args)
{
    if (modifier == kLong)
        (void)va_arg(*args, long);
    else if (modifier == kLongLong)
        (void)va_arg(*args, long long);
    else
        (void)va_arg(*args, int);
}

// Estimated length of one conversion; consumes its argument.
int ConversionLength(char conversion, Modifier modifier, va_list* args)
{
    switch (conversion) {
    case 'c': case 'C':
        (void)va_arg(*args, int);
        return 1;
    case 'd': case 'i': case 'o': case 'u': case 'x': case 'X':
        SkipInteger(modifier, args);
        return 16;
    case 'n': case 'p':
        (void)va_arg(*args, void*);
        return 16;
    case 'e': case 'E': case 'f': case 'g': case 'G':
        if (modifier == kLongDouble)
            (void)va_arg(*args, long double);
        else
            (void)va_arg(*args, double);
        return 16;
    case 's': case 'S': {
        const char* s = va_arg(*args, const char*);
        return s ? static_cast<int>(std::strlen(s)) : 6;
    }
    default:
        return 0;
    }
}
} // namespace

XString::XString(const char* source, int count)
{
    if (!source || count <= 0)
        return;
    std::size_t length = strnlen(source, static_cast<std::size_t>(count));
    if (length > 0)
        text = CopyText(source, length);
}

XString::XString(const XString& other)
{
    Assign(other.GetText());
}

XString& XString::operator=(const XString& other)
{
    Assign(other.GetText());
    return *this;
}

XString& XString::operator=(const char* source)
{
    Assign(source);
    return *this;
}

XString::~XString()
{
    XFree(text);
}

void XString::Assign(const char* source)
{
    // The copy is made before the old text goes, so source may be our own text.
    char* copy = (source && *source) ? CopyText(source, std::strlen(source)) : nullptr;
    XFree(text);
    text = copy;
}

int XString::GetLength() const
{
    return text ? static_cast<int>(std::strlen(text)) : 0;
}

int XString::Compare(const char* other) const
{
    const unsigned char* a = reinterpret_cast<const unsigned char*>(GetText());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(other ? other : "");
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a - *b;
}

int XString::EstimateFormatSize(const char* format, va_list args)
{
    va_list walk;
    va_copy(walk, args);
    long long estimate = 255;
    const char* p = format;
    while (*p) {
        if (*p != '%') {
            ++estimate;
            ++p;
            continue;
        }
        if (p[1] == '%') {
            ++estimate;
            p += 2;
            continue;
        }
        ++p;
        int width = 0;
        int precision = 0;
        for (; *p == '-' || *p == '+' || *p == '0' || *p == ' ' || *p == '#'; ++p) {
            if (*p == '#')
                estimate += 2;
        }
        if (*p == '*') {
            width = va_arg(walk, int);
            ++p;
        } else {
            width = ReadNumber(p);
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                precision = va_arg(walk, int);
                ++p;
            } else {
                precision = ReadNumber(p);
            }
        }
        Modifier modifier = kNone;
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            modifier = kLongLong;
            p += 3;
        } else if (*p == 'L') {
            modifier = kLongDouble;
            ++p;
        } else if (*p == 'h') {
            modifier = kShort;
            ++p;
        } else if (*p == 'l') {
            modifier = kLong;
            ++p;
        }
        long long length = ConversionLength(*p, modifier, &walk);
        long long widthAndPrecision = static_cast<long long>(width) + precision;
        estimate += length > widthAndPrecision ? length : widthAndPrecision;
        if (!*p)
            break; // the format ended inside a conversion
        ++p;
    }
    va_end(walk);
    if (estimate < 1)
        return 1;
    return estimate > 0x40000000 ? 0x40000000 : static_cast<int>(estimate);
}

void XString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    try {
        FormatV(format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
}

void XString::FormatV(const char* format, va_list args)
{
    if (!format || !*format) {
        XFree(text);
        text = nullptr;
        return;
    }
    std::size_t size = static_cast<std::size_t>(EstimateFormatSize(format, args));
    for (;;) {
        char* block = static_cast<char*>(XAlloc(size));
        if (!block)
            throw XMemoryException(kMemoryError);
        va_list attempt;
        va_copy(attempt, args);
        int n = std::vsnprintf(block, size, format, attempt);
        va_end(attempt);
        if (n >= 0 && static_cast<std::size_t>(n) < size) {
            XFree(text);
            // Keep only what the text needs; a failed shrink keeps the larger block.
            void* fitted = XRealloc(block, static_cast<std::size_t>(n) + 1);
            text = fitted ? static_cast<char*>(fitted) : block;
            return;
        }
        XFree(block);
        size *= 2;
    }
}
