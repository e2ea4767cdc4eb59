#include "XMemory.h"
#include "XStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class XStreamTest : public ::testing::Test {
protected:
    void TearDown() override { XSetAllocFailAfter(-1); }

    static std::string Contents(const XStream& stream)
    {
        if (!stream.GetData())
            return "";
        return std::string(reinterpret_cast<const char*>(stream.GetData()), stream.GetSize());
    }
    static std::uint32_t WriteText(XStream& stream, const char* text)
    {
        return stream.Write(text, static_cast<std::uint32_t>(std::strlen(text)));
    }
};

// Everything observable about a stream, compared before and after a failure.
struct Snapshot {
    explicit Snapshot(const XStream& s)
        : data(s.GetData()), capacity(s.GetCapacity()), size(s.GetSize()), position(s.GetPosition()),
          bytes(s.GetData() ? std::string(reinterpret_cast<const char*>(s.GetData()), s.GetSize()) : "")
    {
    }
    bool operator==(const Snapshot& o) const
    {
        return data == o.data && capacity == o.capacity && size == o.size && position == o.position &&
               bytes == o.bytes;
    }
    const unsigned char* data;
    std::uint32_t capacity, size, position;
    std::string bytes;
};

TEST_F(XStreamTest, StartsEmpty)
{
    XStream stream;
    EXPECT_EQ(stream.GetData(), nullptr);
    EXPECT_EQ(stream.GetCapacity(), 0u);
    EXPECT_EQ(stream.GetSize(), 0u);
    EXPECT_EQ(stream.GetPosition(), 0u);
    EXPECT_EQ(stream.GetBlockSize(), 1024u);
}

TEST_F(XStreamTest, SetSizeRoundsCapacityToWholeBlocks)
{
    struct Case {
        std::uint32_t size;
        std::uint32_t capacity;
    } cases[] = {{1, 1024}, {1023, 1024}, {1024, 1024}, {1025, 2048}, {3000, 3072}, {2048, 2048}, {0, 0}};
    XStream stream;
    for (const Case& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.size));
        EXPECT_EQ(stream.SetSize(c.size), c.size);
        EXPECT_EQ(stream.GetSize(), c.size);
        EXPECT_EQ(stream.GetCapacity(), c.capacity);
        EXPECT_EQ(stream.GetData() == nullptr, c.capacity == 0);
        EXPECT_EQ(stream.GetPosition(), 0u);
    }
}

TEST_F(XStreamTest, SetSizeWithinTheBlockDoesNotAllocate)
{
    XStream stream;
    stream.SetSize(10);
    const unsigned char* data = stream.GetData();
    long before = XGetAllocCount();
    EXPECT_EQ(stream.SetSize(1000), 1000u);
    EXPECT_EQ(stream.SetSize(1), 1u);
    EXPECT_EQ(XGetAllocCount(), before);
    EXPECT_EQ(stream.GetData(), data);
}

TEST_F(XStreamTest, ByteByByteWritingResizesOncePerBlock)
{
    XStream stream;
    long before = XGetAllocCount();
    for (int i = 0; i < 1025; ++i)
        ASSERT_EQ(stream.WriteByte(static_cast<unsigned char>(i)), 1u) << "byte " << i;
    EXPECT_EQ(XGetAllocCount() - before, 2);
    EXPECT_EQ(stream.GetCapacity(), 2048u);
    EXPECT_EQ(stream.GetSize(), 1025u);
    EXPECT_EQ(stream.GetPosition(), 1025u);
    for (int i = 0; i < 1025; ++i)
        ASSERT_EQ(stream.GetData()[i], static_cast<unsigned char>(i)) << "byte " << i;

    EXPECT_EQ(stream.SetSize(0), 0u);
    EXPECT_EQ(stream.GetData(), nullptr);
    EXPECT_EQ(stream.GetCapacity(), 0u);
    EXPECT_EQ(stream.GetSize(), 0u);
    EXPECT_EQ(stream.GetPosition(), 0u);
}

TEST_F(XStreamTest, WriteOverwritesAndExtends)
{
    XStream stream;
    EXPECT_EQ(WriteText(stream, "ABCDEF"), 6u);
    EXPECT_EQ(stream.GetPosition(), 6u);

    // Cutting the size is the one way to bring the position back.
    stream.SetSize(2);
    EXPECT_EQ(stream.GetPosition(), 2u);
    stream.SetSize(6); // same block, so the old bytes are still there
    EXPECT_EQ(stream.GetPosition(), 2u);

    EXPECT_EQ(WriteText(stream, "xy"), 2u);
    EXPECT_EQ(Contents(stream), "ABxyEF");
    EXPECT_EQ(stream.GetPosition(), 4u);

    EXPECT_EQ(WriteText(stream, "1234"), 4u);
    EXPECT_EQ(Contents(stream), "ABxy1234");
    EXPECT_EQ(stream.GetSize(), 8u);
    EXPECT_EQ(stream.GetPosition(), 8u);
}

TEST_F(XStreamTest, ShrinkPullsThePositionBackAndGrowthLeavesIt)
{
    XStream stream;
    WriteText(stream, "0123456789");
    EXPECT_EQ(stream.SetSize(4), 4u);
    EXPECT_EQ(stream.GetPosition(), 4u);
    EXPECT_EQ(stream.SetSize(20), 20u);
    EXPECT_EQ(stream.GetPosition(), 4u);
    EXPECT_EQ(stream.SetSize(4), 4u);
    EXPECT_EQ(stream.GetPosition(), 4u);
    EXPECT_EQ(Contents(stream), "0123");
}

TEST_F(XStreamTest, WriteOfNothingReturnsZero)
{
    XStream stream;
    WriteText(stream, "abc");
    Snapshot before(stream);
    EXPECT_EQ(stream.Write("x", 0), 0u);
    EXPECT_TRUE(Snapshot(stream) == before);
}

TEST_F(XStreamTest, FailuresReportThroughTheResultAndChangeNothing)
{
    struct Case {
        const char* name;
        std::uint32_t filled;   // bytes written first
        std::uint32_t (*action)(XStream&);
        std::uint32_t expected; // the result of the failing call
    } cases[] = {
        {"SetSize first block", 0, [](XStream& s) { return s.SetSize(1); }, 0},
        {"SetSize into a new block", 100, [](XStream& s) { return s.SetSize(1025); }, 100},
        {"SetSize down a block", 3000, [](XStream& s) { return s.SetSize(10); }, 3000},
        {"Write into a new block", 1020, [](XStream& s) { return s.Write("0123456789", 10); }, 0},
        {"WriteByte into the first block", 0, [](XStream& s) { return s.WriteByte('x'); }, 0},
        {"WriteByte past a full block", 1024, [](XStream& s) { return s.WriteByte('x'); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XStream stream;
        for (std::uint32_t i = 0; i < c.filled; ++i)
            stream.WriteByte(static_cast<unsigned char>(i));
        Snapshot before(stream);

        XSetAllocFailAfter(0);
        EXPECT_EQ(c.action(stream), c.expected);
        XSetAllocFailAfter(-1);

        EXPECT_TRUE(Snapshot(stream) == before);
    }
}

TEST_F(XStreamTest, WritesWithinTheBlockNeedNoMemory)
{
    XStream stream;
    WriteText(stream, "abc");
    XSetAllocFailAfter(0);
    EXPECT_EQ(WriteText(stream, "defg"), 4u);
    EXPECT_EQ(stream.SetSize(1024), 1024u);
    EXPECT_EQ(stream.SetSize(0), 0u);
    XSetAllocFailAfter(-1);
    EXPECT_EQ(stream.GetData(), nullptr);
}

} // namespace
