#include "XBuffer.h"
#include "XMemory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class XBufferTest : public ::testing::Test {
protected:
    void TearDown() override { XSetAllocFailAfter(-1); }

    // Fills the buffer with 'a', 'b', 'c', ... so that kept bytes can be checked.
    static void Fill(XBuffer& buffer)
    {
        for (int i = 0; i < buffer.GetSize(); ++i)
            buffer.GetData()[i] = static_cast<unsigned char>('a' + i % 26);
    }
    static bool HoldsFill(const XBuffer& buffer, int count)
    {
        for (int i = 0; i < count; ++i) {
            if (buffer.GetData()[i] != static_cast<unsigned char>('a' + i % 26))
                return false;
        }
        return true;
    }
};

TEST_F(XBufferTest, StartsEmpty)
{
    XBuffer buffer;
    EXPECT_EQ(buffer.GetData(), nullptr);
    EXPECT_EQ(buffer.GetSize(), 0);
}

TEST_F(XBufferTest, SetSizeResizesAndKeepsBytes)
{
    XBuffer buffer;
    EXPECT_EQ(buffer.SetSize(10), 10);
    ASSERT_NE(buffer.GetData(), nullptr);
    Fill(buffer);

    EXPECT_EQ(buffer.SetSize(100), 100);
    EXPECT_EQ(buffer.GetSize(), 100);
    EXPECT_TRUE(HoldsFill(buffer, 10));

    EXPECT_EQ(buffer.SetSize(4), 4);
    EXPECT_EQ(buffer.GetSize(), 4);
    EXPECT_TRUE(HoldsFill(buffer, 4));

    EXPECT_EQ(buffer.SetSize(0), 0);
    EXPECT_EQ(buffer.GetData(), nullptr);
    EXPECT_EQ(buffer.GetSize(), 0);
}

TEST_F(XBufferTest, SetSizeToTheCurrentSizeDoesNothing)
{
    for (int size : {0, 16}) {
        SCOPED_TRACE("size " + std::to_string(size));
        XBuffer buffer;
        buffer.SetSize(size);
        const unsigned char* data = buffer.GetData();
        long before = XGetAllocCount();
        EXPECT_EQ(buffer.SetSize(size), size);
        EXPECT_EQ(XGetAllocCount(), before);
        EXPECT_EQ(buffer.GetData(), data);
        EXPECT_EQ(buffer.GetSize(), size);
    }
}

TEST_F(XBufferTest, NegativeSizeIsRefused)
{
    XBuffer buffer;
    buffer.SetSize(8);
    const unsigned char* data = buffer.GetData();
    EXPECT_EQ(buffer.SetSize(-1), 8);
    EXPECT_EQ(buffer.GetData(), data);
    EXPECT_EQ(buffer.GetSize(), 8);
}

TEST_F(XBufferTest, FailedResizeReturnsTheOldSizeAndKeepsEverything)
{
    struct Case {
        const char* name;
        int from;
        int to;
    } cases[] = {
        {"first allocation", 0, 32},
        {"growth", 32, 4096},
        {"shrink", 4096, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XBuffer buffer;
        buffer.SetSize(c.from);
        Fill(buffer);
        const unsigned char* data = buffer.GetData();

        XSetAllocFailAfter(0);
        EXPECT_EQ(buffer.SetSize(c.to), c.from);
        XSetAllocFailAfter(-1);

        EXPECT_EQ(buffer.GetData(), data);
        EXPECT_EQ(buffer.GetSize(), c.from);
        EXPECT_TRUE(HoldsFill(buffer, c.from));
    }
}

TEST_F(XBufferTest, ReleaseNeedsNoMemory)
{
    XBuffer buffer;
    buffer.SetSize(64);
    XSetAllocFailAfter(0);
    EXPECT_EQ(buffer.SetSize(0), 0);
    EXPECT_EQ(buffer.GetData(), nullptr);
}

} // namespace
