#include "XException.h"
#include "XMemory.h"
#include "XString.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// Every test may arm the allocation seam; none may leave it armed.
class XStringTest : public ::testing::Test {
protected:
    void TearDown() override { XSetAllocFailAfter(-1); }
};

// Runs EstimateFormatSize over a real variadic argument list.
int Estimate(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int size = XString::EstimateFormatSize(format, args);
    va_end(args);
    return size;
}

// Format through FormatV, for formats that the compiler's format checks would
// flag at a Format call (null, empty).
void FormatUnchecked(XString& s, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    s.FormatV(format, args);
    va_end(args);
}

// The message of the XMemoryException that action throws, "<null>" for a
// null message; a test failure when it throws nothing.
std::string MemoryErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const XMemoryException& e) {
        return e.GetMessage() ? e.GetMessage() : "<null>";
    }
    ADD_FAILURE() << "no XMemoryException";
    return "";
}

TEST_F(XStringTest, DefaultIsEmptyWithNonNullText)
{
    XString s;
    const XString& cs = s;
    ASSERT_NE(s.GetText(), nullptr);
    ASSERT_NE(cs.GetText(), nullptr);
    EXPECT_STREQ(s.GetText(), "");
    EXPECT_EQ(s.GetText(), cs.GetText());
    EXPECT_EQ(s.GetLength(), 0);
}

TEST_F(XStringTest, BoundedConstruction)
{
    static const char kTwoWords[8] = {'A', 'B', 'C', 0, 'D', 'E', 'F', 0};
    // No terminator: a read past count would run off the array.
    static const char kEightLetters[8] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'};
    struct Case {
        const char* name;
        const char* source;
        int count;
        const char* expected;
    } cases[] = {
        {"stops at first NUL", kTwoWords, 32, "ABC"},
        {"stops at count", kEightLetters, 4, "ABCD"},
        {"count equals field size", kEightLetters, 8, "ABCDEFGH"},
        {"count one", kEightLetters, 1, "A"},
        {"null text", nullptr, 32, ""},
        {"count zero", kEightLetters, 0, ""},
        {"negative count", kEightLetters, -1, ""},
        {"leading NUL", "\0abc", 4, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        long before = XGetAllocCount();
        XString s(c.source, c.count);
        // An empty result holds no block at all.
        EXPECT_EQ(XGetAllocCount() - before, *c.expected ? 1 : 0);
        ASSERT_NE(s.GetText(), nullptr);
        EXPECT_STREQ(s.GetText(), c.expected);
        EXPECT_EQ(s.GetLength(), static_cast<int>(std::string(c.expected).size()));
    }
}

TEST_F(XStringTest, ConstructionCopiesTheText)
{
    char source[] = "abc";
    XString s(source, 32);
    source[0] = 'x';
    EXPECT_NE(s.GetText(), source);
    EXPECT_STREQ(s.GetText(), "abc");
}

TEST_F(XStringTest, AssignCopiesAndEmpties)
{
    XString s;
    s.Assign("hello");
    EXPECT_STREQ(s.GetText(), "hello");
    EXPECT_EQ(s.GetLength(), 5);

    XString other;
    other.Assign(s.GetText());
    EXPECT_NE(other.GetText(), s.GetText());
    EXPECT_STREQ(other.GetText(), "hello");

    for (const char* empty : {static_cast<const char*>(nullptr), ""}) {
        SCOPED_TRACE(empty ? "empty text" : "null text");
        s.Assign("x");
        long before = XGetAllocCount();
        s.Assign(empty);
        EXPECT_EQ(XGetAllocCount(), before);
        ASSERT_NE(s.GetText(), nullptr);
        EXPECT_STREQ(s.GetText(), "");
        EXPECT_EQ(s.GetLength(), 0);
    }
}

TEST_F(XStringTest, AssignFromItsOwnText)
{
    XString s;
    s.Assign("network");
    s.Assign(s.GetText());
    EXPECT_STREQ(s.GetText(), "network");
    // A tail of its own text: the copy must be taken before the old block goes.
    s.Assign(s.GetText() + 3);
    EXPECT_STREQ(s.GetText(), "work");

    XString empty;
    empty.Assign(empty.GetText());
    EXPECT_STREQ(empty.GetText(), "");
}

TEST_F(XStringTest, CopyAndAssignmentOperatorsCopy)
{
    XString a;
    a.Assign("one");
    XString b(a);
    EXPECT_NE(b.GetText(), a.GetText());
    EXPECT_STREQ(b.GetText(), "one");

    XString c;
    c = a;
    EXPECT_STREQ(c.GetText(), "one");
    c = "two";
    EXPECT_STREQ(c.GetText(), "two");
    EXPECT_STREQ(a.GetText(), "one");
}

TEST_F(XStringTest, FormatWithNullOrEmptyFormatEmpties)
{
    for (const char* format : {static_cast<const char*>(nullptr), ""}) {
        SCOPED_TRACE(format ? "empty format" : "null format");
        XString s;
        s.Assign("old");
        long before = XGetAllocCount();
        FormatUnchecked(s, format);
        EXPECT_EQ(XGetAllocCount(), before);
        ASSERT_NE(s.GetText(), nullptr);
        EXPECT_STREQ(s.GetText(), "");
        EXPECT_EQ(s.GetLength(), 0);
    }
}

TEST_F(XStringTest, FormatIpAddressInOnePass)
{
    XString s;
    long before = XGetAllocCount();
    s.Format("%d.%d.%d.%d", 192, 168, 1, 10);
    EXPECT_STREQ(s.GetText(), "192.168.1.10");
    EXPECT_EQ(s.GetLength(), 12);
    // One attempt, then the block is cut to the text.
    EXPECT_EQ(XGetAllocCount() - before, 2);
}

TEST_F(XStringTest, FormatReplacesOldTextAndMayUseIt)
{
    XString s;
    s.Assign("abc");
    s.Format("[%s]", s.GetText());
    EXPECT_STREQ(s.GetText(), "[abc]");

    s.Format("%s", "");
    ASSERT_NE(s.GetText(), nullptr);
    EXPECT_STREQ(s.GetText(), "");
    EXPECT_EQ(s.GetLength(), 0);
}

TEST_F(XStringTest, FormatDoublesWhenTheEstimateIsShort)
{
    char one[400];
    char two[800];
    char three[1200];
    std::snprintf(one, sizeof one, "%f", 1e300);
    std::snprintf(two, sizeof two, "%f%f", 1e300, 1e300);
    std::snprintf(three, sizeof three, "%f%f%f", 1e300, 1e300, 1e300);
    struct Case {
        const char* name;
        int estimate;
        int attempts; // formatting passes; each allocates a block twice the last
        const char* expected;
        std::function<void(XString&)> format;
    } cases[] = {
        // 271 bytes are too few for 308 characters; 542 hold them.
        {"one long number", Estimate("%f", 1e300), 2, one, [](XString& s) { s.Format("%f", 1e300); }},
        // 287 and 574 are too few for 616 characters; 1148 hold them.
        {"two long numbers", Estimate("%f%f", 1e300, 1e300), 3, two,
         [](XString& s) { s.Format("%f%f", 1e300, 1e300); }},
        // 303 and 606 are too few for 924 characters; 1212 hold them.
        {"three long numbers", Estimate("%f%f%f", 1e300, 1e300, 1e300), 3, three,
         [](XString& s) { s.Format("%f%f%f", 1e300, 1e300, 1e300); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int length = static_cast<int>(std::strlen(c.expected));
        int lastSize = c.estimate << (c.attempts - 1);
        // The case really needs exactly that many doublings.
        ASSERT_GE(length, lastSize / 2);
        ASSERT_LT(length, lastSize);

        XString s;
        long before = XGetAllocCount();
        c.format(s);
        EXPECT_STREQ(s.GetText(), c.expected);
        EXPECT_EQ(s.GetLength(), length);
        // Every attempt's block, then the cut of the last one to length + 1.
        EXPECT_EQ(XGetAllocCount() - before, c.attempts + 1);
    }
    EXPECT_EQ(Estimate("%f", 1e300), 271);
}

TEST_F(XStringTest, EstimateFormatSizeWalk)
{
    int dummy = 0;
    struct Case {
        const char* name;
        int actual;
        int expected;
    } cases[] = {
        {"empty format", Estimate(""), 255},
        {"plain characters", Estimate("hello"), 255 + 5},
        {"percent pair", Estimate("%%"), 255 + 1},
        {"percent pair consumes no argument", Estimate("%%d%s", "abc"), 255 + 1 + 1 + 3},
        {"int", Estimate("%d", 7), 255 + 16},
        {"every integer conversion", Estimate("%i%o%u%x%X", 1, 2, 3, 4, 5), 255 + 5 * 16},
        {"char", Estimate("%c%C", 'x', 'y'), 255 + 2},
        {"pointer and count", Estimate("%p%n%s", &dummy, &dummy, "ab"), 255 + 16 + 16 + 2},
        {"doubles stay in step", Estimate("%e%E%f%g%G%s", 1.0, 2.0, 3.0, 4.0, 5.0, "ab"),
         255 + 5 * 16 + 2},
        {"hash adds two", Estimate("%#x", 255), 255 + 2 + 16},
        {"each hash among flags", Estimate("%-#+ 0#x", 255), 255 + 4 + 16},
        {"flags without hash", Estimate("%-+ 0d", 1), 255 + 16},
        {"star width", Estimate("%*d", 40, 7), 255 + 40},
        {"star width consumes an int", Estimate("%*d%s", 3, 7, "abcdefghij"), 255 + 16 + 10},
        {"negative star width", Estimate("%*d", -40, 7), 255 + 16},
        {"star precision", Estimate("%.*s", 20, "abc"), 255 + 20},
        {"star width and precision", Estimate("%*.*s%s", 4, 5, "abc", "xy"), 255 + 9 + 2},
        {"digit precision", Estimate("%.30f", 1.5), 255 + 30},
        {"small precision", Estimate("%.3f", 1.5), 255 + 16},
        {"dot without digits", Estimate("%.s", "abc"), 255 + 3},
        {"zero flag then width", Estimate("%05d", 1), 255 + 16},
        {"width plus precision beats length", Estimate("%10.20s", "abc"), 255 + 30},
        {"length beats width", Estimate("%5s", "abcdefghij"), 255 + 10},
        {"text", Estimate("%s", "hello"), 255 + 5},
        {"empty text", Estimate("%s", ""), 255},
        {"null text", Estimate("%s", static_cast<const char*>(nullptr)), 255 + 6},
        {"wide-named text", Estimate("%S", "abcd"), 255 + 4},
        {"h modifier", Estimate("%hd%s", 1, "abc"), 255 + 16 + 3},
        {"l modifier", Estimate("%ld%s", 5L, "abc"), 255 + 16 + 3},
        {"I64 modifier", Estimate("%I64d%s", 5LL, "abc"), 255 + 16 + 3},
        {"L modifier", Estimate("%Lf%s", 1.0L, "abc"), 255 + 16 + 3},
        {"unknown conversion consumes nothing", Estimate("%q%s", "abc"), 255 + 3},
        {"unknown conversion with width", Estimate("%7q"), 255 + 7},
        {"mixed", Estimate("IP %d.%d.%d.%d", 192, 168, 1, 10), 255 + 6 + 4 * 16},
        {"ends after percent", Estimate("%"), 255},
        {"ends after text and percent", Estimate("abc%"), 255 + 3},
        {"ends in flags", Estimate("%-"), 255},
        {"ends in hash flag", Estimate("%#"), 255 + 2},
        {"ends in width", Estimate("%12"), 255 + 12},
        {"ends after star", Estimate("%*", 9), 255 + 9},
        {"ends after dot", Estimate("%3."), 255 + 3},
        {"ends in precision", Estimate("%3.4"), 255 + 7},
        {"ends after modifier", Estimate("%l"), 255},
        {"ends inside I64", Estimate("%I6"), 255 + 1},
        {"ends after I", Estimate("%I"), 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.actual, c.expected);
    }
}

TEST_F(XStringTest, EstimateLeavesTheCallersArgumentsAlone)
{
    XString s;
    // FormatV estimates and formats from the same list; both must see all of it.
    s.Format("%*d|%s|%.*f", 4, 7, "abc", 2, 1.5);
    EXPECT_STREQ(s.GetText(), "   7|abc|1.50");
}

TEST_F(XStringTest, CompareAsUnsignedBytes)
{
    struct Case {
        const char* text;
        const char* other;
        int expected;
    } cases[] = {
        {"", nullptr, 0},
        {"", "", 0},
        {"abc", "abc", 0},
        {"a", "b", 'a' - 'b'},
        {"b", "a", 'b' - 'a'},
        {"\xE0", "z", 0xE0 - 'z'},
        {"z", "\xE0", 'z' - 0xE0},
        {"abc", "ab", 'c'},
        {"ab", "abc", -'c'},
        {"a", nullptr, 'a'},
        {"", "a", -'a'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " vs " + (c.other ? c.other : "(null)"));
        XString s;
        s.Assign(c.text);
        EXPECT_EQ(s.Compare(c.other), c.expected);
        EXPECT_EQ(s == c.other, c.expected == 0);
    }
}

TEST_F(XStringTest, OutOfMemoryThrowsAndKeepsTheOldText)
{
    struct Case {
        const char* name;
        long successes; // allocations that succeed before the one that fails
        std::function<void(XString&)> action;
    } cases[] = {
        {"Assign", 0, [](XString& s) { s.Assign("replacement"); }},
        {"Format first attempt", 0, [](XString& s) { s.Format("%d", 5); }},
        {"Format doubled attempt", 1, [](XString& s) { s.Format("%f", 1e300); }},
    };
    for (const Case& c : cases) {
        for (const char* old : {"old text", ""}) {
            SCOPED_TRACE(std::string(c.name) + (*old ? " over text" : " over empty"));
            XString s;
            s.Assign(old);
            const char* oldText = s.GetText();
            XSetAllocFailAfter(c.successes, 1);
            EXPECT_EQ(MemoryErrorOf([&] { c.action(s); }), "XString memory error");
            XSetAllocFailAfter(-1);
            EXPECT_EQ(s.GetText(), oldText);
            EXPECT_STREQ(s.GetText(), old);
        }
    }
}

TEST_F(XStringTest, ConstructionOutOfMemoryThrows)
{
    XSetAllocFailAfter(0, 1);
    EXPECT_EQ(MemoryErrorOf([] { XString s("abc", 32); }), "XString memory error");
}

TEST_F(XStringTest, FailedCutAfterFormatKeepsTheLargerBlock)
{
    XString s;
    XSetAllocFailAfter(1, 1); // the attempt succeeds, the cut to size fails
    s.Format("%d.%d.%d.%d", 192, 168, 1, 10);
    XSetAllocFailAfter(-1);
    EXPECT_STREQ(s.GetText(), "192.168.1.10");
    EXPECT_EQ(s.GetLength(), 12);
}

} // namespace
