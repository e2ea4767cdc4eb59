#include "XArray.h"
#include "XException.h"
#include "XMemory.h"
#include "XString.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

class XExceptionTest : public ::testing::Test {
protected:
    void TearDown() override { XSetAllocFailAfter(-1); }
};

TEST_F(XExceptionTest, ConstructorCopiesTheMessage)
{
    char text[] = "XArray out of bound";
    XException e(text);
    ASSERT_NE(e.GetMessage(), nullptr);
    EXPECT_NE(e.GetMessage(), text);
    text[0] = '?';
    EXPECT_STREQ(e.GetMessage(), "XArray out of bound");
}

TEST_F(XExceptionTest, NullTextLeavesTheMessageNull)
{
    XException e(nullptr);
    EXPECT_EQ(e.GetMessage(), nullptr);
    XException copy(e);
    EXPECT_EQ(copy.GetMessage(), nullptr);
}

TEST_F(XExceptionTest, CopyConstructorCopiesTheMessage)
{
    XException original("first");
    XException copy(original);
    ASSERT_NE(copy.GetMessage(), nullptr);
    EXPECT_NE(copy.GetMessage(), original.GetMessage());
    EXPECT_STREQ(copy.GetMessage(), "first");

    // Derived exceptions copy through the same constructor.
    XMemoryException memory("XString memory error");
    XMemoryException memoryCopy(memory);
    EXPECT_NE(memoryCopy.GetMessage(), memory.GetMessage());
    EXPECT_STREQ(memoryCopy.GetMessage(), "XString memory error");
}

TEST_F(XExceptionTest, DerivedExceptionsAreCaughtAsTheBase)
{
    try {
        throw XBoundException("XArray out of bound");
    } catch (const XException& e) {
        EXPECT_STREQ(e.GetMessage(), "XArray out of bound");
    }
}

TEST_F(XExceptionTest, FailedMessageCopyLeavesANullMessage)
{
    XSetAllocFailAfter(0);
    XException e("lost");
    EXPECT_EQ(e.GetMessage(), nullptr);
    XSetAllocFailAfter(-1);

    XException original("kept");
    XSetAllocFailAfter(0);
    XException copy(original);
    XSetAllocFailAfter(-1);
    EXPECT_EQ(copy.GetMessage(), nullptr);
    EXPECT_STREQ(original.GetMessage(), "kept");
}

TEST_F(XExceptionTest, ExhaustedMemoryStillThrowsWithANullMessage)
{
    XString text;
    XArray<int> array;
    struct Case {
        const char* name;
        std::function<void()> action;
    } cases[] = {
        {"XString construction", [] { XString s("abc", 3); }},
        {"XString Assign", [&] { text.Assign("abc"); }},
        {"XString Format", [&] { text.Format("%d", 1); }},
        {"XArray growth", [&] { array.SetSize(1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Every allocation fails, the exception's own message copy included.
        XSetAllocFailAfter(0);
        bool thrown = false;
        try {
            c.action();
        } catch (const XMemoryException& e) {
            thrown = true;
            EXPECT_EQ(e.GetMessage(), nullptr);
        }
        XSetAllocFailAfter(-1);
        EXPECT_TRUE(thrown);
    }
    EXPECT_STREQ(text.GetText(), "");
    EXPECT_EQ(array.GetSize(), 0);
}

} // namespace
