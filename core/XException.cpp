#include "XException.h"

#include "XMemory.h"

#include <cstring>

namespace {
// A heap copy of text, or null for a null text or exhausted memory.
char* CopyMessage(const char* text)
{
    if (!text)
        return nullptr;
    std::size_t length = std::strlen(text) + 1;
    char* copy = static_cast<char*>(XAlloc(length));
    if (copy)
        std::memcpy(copy, text, length);
    return copy;
}
} // namespace

XException::XException(const char* text) : message(CopyMessage(text)) {}

XException::XException(const XException& other) : message(CopyMessage(other.message)) {}

XException::~XException()
{
    XFree(message);
    message = nullptr;
}
