#include "FileVersion.h"
#include "Setipformimp.h"
#include "Setmacformimp.h"
#include "XStream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct IpCase {
    const char* text;
    int expected;
};

// Case texts as test names: printable ASCII kept, other bytes as \xNN.
void PrintText(const char* text, std::ostream* os)
{
    static const char kDigits[] = "0123456789ABCDEF";
    *os << '"';
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p >= 0x20 && *p < 0x7F)
            *os << char(*p);
        else
            *os << "\\x" << kDigits[*p >> 4] << kDigits[*p & 15];
    }
    *os << '"';
}

void PrintTo(const IpCase& c, std::ostream* os)
{
    PrintText(c.text, os);
}

class CheckIpTextTest : public testing::TestWithParam<IpCase> {};

TEST_P(CheckIpTextTest, AcceptsFourDottedPartsThatInetAddrReads)
{
    EXPECT_EQ(CheckIpText(GetParam().text), GetParam().expected) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(Texts, CheckIpTextTest,
                         testing::Values(IpCase{"192.168.1.10", 0}, IpCase{"0.0.0.0", 0},
                                         IpCase{"255.255.255.254", 0}, IpCase{"010.0.0.1", 0},
                                         IpCase{"0x0A.0x0.0.1", 0}, IpCase{"0xff.0377.0.1", 0},
                                         IpCase{"192.168.1.300", -1}, IpCase{"255.255.255.255", -1},
                                         IpCase{"0xff.0xff.0xff.0xff", -1}, IpCase{"192.168.1", -1},
                                         IpCase{"10.1", -1}, IpCase{"1.2.3.4.5", -1}, IpCase{"10.0.0.", -1},
                                         IpCase{"...", -1}, IpCase{"", -1}, IpCase{"a.b.c.d", -1},
                                         IpCase{"08.0.0.1", -1}, IpCase{"1.2.3.4 x", 0}));

TEST(CheckIpText, NullTextIsRejected)
{
    EXPECT_EQ(CheckIpText(nullptr), -1);
}

struct HexCase {
    const char* text;
    int expected;
    std::vector<unsigned char> bytes;
};

void PrintTo(const HexCase& c, std::ostream* os)
{
    PrintText(c.text, os);
}

class ParseHexTextTest : public testing::TestWithParam<HexCase> {};

TEST_P(ParseHexTextTest, DecodesDigitPairs)
{
    const HexCase& c = GetParam();
    XStream stream;
    stream.WriteByte(0xEE); // must be emptied first
    EXPECT_EQ(ParseHexText(c.text, stream), c.expected) << c.text;
    if (c.expected < 0)
        return;
    ASSERT_EQ(stream.GetSize(), c.bytes.size());
    for (size_t i = 0; i < c.bytes.size(); ++i)
        EXPECT_EQ(stream.GetData()[i], c.bytes[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseHexTextTest,
    testing::Values(HexCase{"001A6B38D155", 12, {0x00, 0x1A, 0x6B, 0x38, 0xD1, 0x55}},
                    HexCase{"001a6b38d155", 12, {0x00, 0x1A, 0x6B, 0x38, 0xD1, 0x55}},
                    HexCase{"fFaA09", 6, {0xFF, 0xAA, 0x09}}, HexCase{"ABC", 3, {0xAB}},
                    HexCase{"", 0, {}}, HexCase{"001A6B38D1G5", -1, {}}, HexCase{"00 1A", -1, {}},
                    HexCase{"00-1A", -1, {}}, HexCase{"\xC3\xA9" "00", -1, {}}, HexCase{"00\x80", -1, {}}));

TEST(ParseHexText, NullTextIsRejectedAndStreamKept)
{
    XStream stream;
    stream.WriteByte(0x42);
    EXPECT_EQ(ParseHexText(nullptr, stream), -1);
    EXPECT_EQ(stream.GetSize(), 1u);
}

// Puts value little-endian into bytes bytes at at.
void Put(std::vector<unsigned char>& file, size_t at, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        file[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// A minimal little-endian ELF64 file with one section named name holding
// content (besides the null section and the section-name table).
std::vector<unsigned char> MakeElf(const std::string& name, const std::vector<unsigned char>& content)
{
    std::vector<unsigned char> file(64, 0);
    std::memcpy(file.data(), "\x7f" "ELF", 4);
    file[4] = 2; // 64-bit
    file[5] = 1; // little-endian
    file[6] = 1;
    const size_t contentAt = file.size();
    for (unsigned char byte : content)
        file.push_back(byte);
    const std::string names = std::string("\0.shstrtab\0", 11) + name + '\0';
    const size_t namesAt = file.size();
    for (char c : names)
        file.push_back(static_cast<unsigned char>(c));
    while (file.size() % 8)
        file.push_back(0);
    const size_t headersAt = file.size();
    const std::uint64_t sections[3][3] = {{0, 0, 0}, {1, namesAt, names.size()}, {11, contentAt, content.size()}};
    for (const auto& section : sections) {
        const size_t at = file.size();
        file.resize(at + 64, 0);
        Put(file, at, section[0], 4);
        Put(file, at + 24, section[1], 8);
        Put(file, at + 32, section[2], 8);
    }
    Put(file, 0x28, headersAt, 8);
    Put(file, 0x3A, 64, 2);
    Put(file, 0x3C, 3, 2);
    Put(file, 0x3E, 1, 2);
    return file;
}

std::vector<unsigned char> Record(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d)
{
    std::vector<unsigned char> bytes(kFileVersionMarker, kFileVersionMarker + kFileVersionMarkerSize);
    for (std::uint16_t n : {a, b, c, d}) {
        bytes.push_back(n & 0xFF);
        bytes.push_back(n >> 8);
    }
    return bytes;
}

// A scratch file that is removed with the fixture.
class ReadFileVersionTest : public testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/netvane-version-XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_NE(fd, -1);
        close(fd);
        path = name;
    }
    void TearDown() override { std::remove(path.c_str()); }

    void Write(const std::vector<unsigned char>& bytes)
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        if (!bytes.empty())
            std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }

    std::string path;
};

TEST_F(ReadFileVersionTest, ReadsTheToolsOwnVersion)
{
    std::uint16_t version[4] = {9, 9, 9, 9};
    ASSERT_EQ(ReadFileVersion(NETVANE_EXE, version), 0);
    EXPECT_EQ(version[0], 1);
    EXPECT_EQ(version[1], 2);
    EXPECT_EQ(version[2], 2);
    EXPECT_EQ(version[3], 0);
}

TEST_F(ReadFileVersionTest, ReadsTheRecordOfItsSection)
{
    Write(MakeElf(kFileVersionSection, Record(1, 10, 123, 4)));
    std::uint16_t version[4] = {};
    ASSERT_EQ(ReadFileVersion(path.c_str(), version), 0);
    EXPECT_EQ(version[0], 1);
    EXPECT_EQ(version[1], 10);
    EXPECT_EQ(version[2], 123);
    EXPECT_EQ(version[3], 4);
}

TEST_F(ReadFileVersionTest, FailsWithoutTouchingTheNumbers)
{
    std::vector<unsigned char> shortRecord = Record(1, 2, 3, 4);
    shortRecord.pop_back();
    std::vector<unsigned char> brokenMarker = Record(1, 2, 3, 4);
    brokenMarker[3] ^= 1;
    std::vector<unsigned char> cut = MakeElf(kFileVersionSection, Record(1, 2, 3, 4));
    cut.resize(cut.size() - 40); // the last section header is incomplete
    std::vector<unsigned char> beyond = MakeElf(kFileVersionSection, Record(1, 2, 3, 4));
    Put(beyond, beyond.size() - 64 + 24, beyond.size(), 8); // section data past the end
    const struct {
        const char* what;
        std::vector<unsigned char> bytes;
    } files[] = {
        {"empty file", {}},
        {"record without ELF", Record(1, 2, 3, 4)},
        {"record in another section", MakeElf(".rodata", Record(1, 2, 3, 4))},
        {"short record", MakeElf(kFileVersionSection, shortRecord)},
        {"broken marker", MakeElf(kFileVersionSection, brokenMarker)},
        {"cut headers", cut},
        {"data beyond the file", beyond},
    };
    for (const auto& f : files) {
        Write(f.bytes);
        std::uint16_t version[4] = {7, 7, 7, 7};
        EXPECT_EQ(ReadFileVersion(path.c_str(), version), -1) << f.what;
        EXPECT_EQ(version[0], 7) << f.what;
        EXPECT_EQ(version[3], 7) << f.what;
    }
    std::uint16_t version[4] = {7, 7, 7, 7};
    EXPECT_EQ(ReadFileVersion("/nonexistent/netvane", version), -1);
    EXPECT_EQ(ReadFileVersion(nullptr, version), -1);
    EXPECT_EQ(version[0], 7);
}

} // namespace
