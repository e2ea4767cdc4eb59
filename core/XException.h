#pragma once

// Base of the exceptions that the value classes throw. Owns a heap copy of its
// message; the copy is null when no text was given or memory ran out.
class XException {
public:
    explicit XException(const char* message);
    XException(const XException& other);
    XException& operator=(const XException&) = delete;
    ~XException();

    // The message, or null.
    const char* GetMessage() const { return message; }

private:
    char* message;
};

// Memory ran out: "XString memory error" or "XArray memory error".
class XMemoryException : public XException {
public:
    explicit XMemoryException(const char* message) : XException(message) {}
};

// A bad XArray index: "XArray out of bound".
class XBoundException : public XException {
public:
    explicit XBoundException(const char* message) : XException(message) {}
};
