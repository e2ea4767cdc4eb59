#pragma once

#include <cstdarg>

// An owned, NUL-terminated text. The text pointer is null for the empty
// string; GetText() then returns a one-character empty text, never null.
class XString {
public:
    XString() = default;
    // Copies text up to its first NUL or count characters, whichever comes
    // first (for fixed-size fields that may lack a terminator). A null text
    // or a count of 0 or less gives the empty string.
    // Throws XMemoryException("XString memory error").
    XString(const char* text, int count);
    XString(const XString& other);
    XString& operator=(const XString& other);
    XString& operator=(const char* text);
    ~XString();

    // Becomes a copy of text (null or "" empties it). Safe when text points
    // into this string's own text. Throws XMemoryException
    // ("XString memory error") and keeps the old text when memory runs out.
    void Assign(const char* text);

    // printf-style assignment. A null or empty format empties the string.
    // Throws XMemoryException("XString memory error"), keeping the old text.
    void Format(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void FormatV(const char* format, va_list args);

    // The first buffer size that Format tries for format and its arguments.
    static int EstimateFormatSize(const char* format, va_list args);

    const char* GetText() const { return text ? text : &emptyText; }
    char* GetText() { return text ? text : &emptyText; }
    int GetLength() const;

    // Compares GetText() with text (null reads as "") as unsigned bytes:
    // the difference of the first differing bytes, 0 when equal.
    int Compare(const char* other) const;
    bool operator==(const char* other) const { return Compare(other) == 0; }

private:
    char* text = nullptr;
    char emptyText = 0;
};
