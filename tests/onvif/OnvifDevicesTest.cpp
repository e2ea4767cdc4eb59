#include "COnvifDevices.h"
#include "COnvifDiscoverThread.h"
#include "soapH.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

COnvifDevice* MakeDevice(const char* ip, const char* uuid)
{
    COnvifDevice* device = new COnvifDevice;
    device->ipText.Assign(ip);
    device->uuid.Assign(uuid);
    return device;
}

std::vector<std::string> Column(COnvifDevices& table, bool uuids)
{
    std::vector<std::string> texts;
    for (int i = 0; i < table.devices.GetSize(); ++i)
        texts.push_back(uuids ? table.devices[i]->uuid.GetText() : table.devices[i]->ipText.GetText());
    return texts;
}

// --- Device name from the Scopes text ---------------------------------------

struct NameCase {
    const char* scopes;
    const char* name;
};

void PrintTo(const NameCase& c, std::ostream* out)
{
    *out << '"' << (c.scopes ? c.scopes : "(null)") << '"';
}

class OnvifNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(OnvifNameTest, TakesTextAfterPrefixUpToSpace)
{
    XString name;
    name.Assign("stale");
    OnvifNameFromScopes(GetParam().scopes, name);
    EXPECT_STREQ(name.GetText(), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Scopes, OnvifNameTest,
    ::testing::Values(
        NameCase{"onvif://www.onvif.org/type/video_encoder onvif://www.onvif.org/name/Camera%201 "
                 "onvif://www.onvif.org/location/hall",
                 "Camera%201"},
        NameCase{"onvif://www.onvif.org/type/ptz onvif://www.onvif.org/name/LastOne", "LastOne"},
        NameCase{"onvif://www.onvif.org/name/ onvif://www.onvif.org/location/x", ""},
        NameCase{"onvif://www.onvif.org/type/ptz onvif://www.onvif.org/location/x", ""},
        NameCase{"", ""},
        NameCase{nullptr, ""},
        NameCase{"xonvif://www.onvif.org/name/Inner tail", "Inner"},
        NameCase{"ONVIF://www.onvif.org/name/Upper", ""},
        NameCase{"onvif://www.onvif.org/name/First onvif://www.onvif.org/name/Second", "First"},
        NameCase{"onvif://www.onvif.org/name/\xE6\x91\x84\xE5\x83\x8F", "\xE6\x91\x84\xE5\x83\x8F"}));

// --- IP text order and sorting ------------------------------------------------

TEST(OnvifCompareTest, ComparesIpTextAsUnsignedBytes)
{
    struct Case {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"10.0.0.5", "9.0.0.1", -1},
        {"192.168.1.100", "192.168.1.20", -1},
        {"192.168.1.20", "192.168.1.100", 1},
        {"10.0.0.1", "10.0.0.1", 0},
        {"", "1.2.3.4", -1},
        {"10.0.0.1", "10.0.0.10", -1},
        {"\xC0", "A", 1},
    };
    for (const Case& c : cases) {
        COnvifDevice a, b;
        a.ipText.Assign(c.a);
        b.ipText.Assign(c.b);
        EXPECT_EQ(CompareOnvifDeviceIp(&a, &b), c.expected) << c.a << " vs " << c.b;
    }
}

class OnvifSortTest : public ::testing::Test {
protected:
    void Fill(const std::vector<std::pair<const char*, const char*>>& rows)
    {
        for (const auto& row : rows)
            table.devices.Add(MakeDevice(row.first, row.second));
    }
    COnvifDevices table;
};

TEST_F(OnvifSortTest, AscendingAndDescendingUseTextOrder)
{
    Fill({{"10.0.0.5", "a"}, {"9.0.0.1", "b"}, {"10.0.0.10", "c"}});
    SortOnvifDevices(table, 1);
    EXPECT_EQ(Column(table, false), (std::vector<std::string>{"10.0.0.10", "10.0.0.5", "9.0.0.1"}));
    SortOnvifDevices(table, -1);
    EXPECT_EQ(Column(table, false), (std::vector<std::string>{"9.0.0.1", "10.0.0.5", "10.0.0.10"}));
}

TEST_F(OnvifSortTest, EqualAddressesKeepArrivalOrderBothWays)
{
    Fill({{"10.0.0.2", "first"}, {"10.0.0.1", "x"}, {"10.0.0.2", "second"}, {"10.0.0.3", "y"},
          {"10.0.0.2", "third"}});
    SortOnvifDevices(table, 1);
    EXPECT_EQ(Column(table, true), (std::vector<std::string>{"x", "first", "second", "third", "y"}));
    SortOnvifDevices(table, -1);
    EXPECT_EQ(Column(table, true), (std::vector<std::string>{"y", "first", "second", "third", "x"}));
}

TEST_F(OnvifSortTest, ZeroDirectionAndTinyTablesAreLeftAlone)
{
    SortOnvifDevices(table, 1);
    EXPECT_EQ(table.devices.GetSize(), 0);
    Fill({{"9.9.9.9", "a"}, {"1.1.1.1", "b"}});
    SortOnvifDevices(table, 0);
    EXPECT_EQ(Column(table, true), (std::vector<std::string>{"a", "b"}));
}

// The order a plain bubble sort that swaps only strictly misordered neighbours
// gives, over (ip, uuid) pairs.
std::vector<std::string> ReferenceOrder(std::vector<std::pair<std::string, std::string>> rows,
                                        int direction)
{
    for (size_t n = rows.size(); n >= 2; --n) {
        bool swapped = false;
        for (size_t i = 0; i + 1 < n; ++i) {
            int order = std::strcmp(rows[i].first.c_str(), rows[i + 1].first.c_str());
            if (direction > 0 ? order > 0 : order < 0) {
                std::swap(rows[i], rows[i + 1]);
                swapped = true;
            }
        }
        if (!swapped)
            break;
    }
    std::vector<std::string> uuids;
    for (const auto& row : rows)
        uuids.push_back(row.second);
    return uuids;
}

TEST_F(OnvifSortTest, MatchesReferenceBubbleSortOnRandomTables)
{
    std::mt19937 random(20260101);
    for (int round = 0; round < 200; ++round) {
        table.devices.SetSize(0);
        std::vector<std::pair<std::string, std::string>> rows;
        int size = static_cast<int>(random() % 12);
        for (int i = 0; i < size; ++i) {
            // Few distinct addresses, so ties are common.
            std::string ip = "10.0." + std::to_string(random() % 3) + "." + std::to_string(random() % 12);
            std::string uuid = "urn:" + std::to_string(i);
            rows.emplace_back(ip, uuid);
            table.devices.Add(MakeDevice(ip.c_str(), uuid.c_str()));
        }
        int direction = round % 2 ? -1 : 1;
        SortOnvifDevices(table, direction);
        ASSERT_EQ(Column(table, true), ReferenceOrder(rows, direction)) << "round " << round;
    }
}

// --- Lookup by uuid ---------------------------------------------------------------

TEST(OnvifFindTest, FindsFirstExactMatchOnly)
{
    COnvifDevices table;
    table.devices.Add(MakeDevice("1.1.1.1", "urn:uuid:a"));
    table.devices.Add(MakeDevice("2.2.2.2", "urn:uuid:b"));
    table.devices.Add(MakeDevice("3.3.3.3", "urn:uuid:b"));
    EXPECT_EQ(FindOnvifDevice(table, "urn:uuid:b"), table.devices[1]);
    EXPECT_EQ(FindOnvifDevice(table, "urn:uuid:a"), table.devices[0]);
    EXPECT_EQ(FindOnvifDevice(table, "URN:UUID:A"), nullptr);
    EXPECT_EQ(FindOnvifDevice(table, "urn:uuid:a "), nullptr);
    EXPECT_EQ(FindOnvifDevice(table, "urn:uuid:"), nullptr);
    COnvifDevices empty;
    EXPECT_EQ(FindOnvifDevice(empty, "urn:uuid:a"), nullptr);
}

// --- One reply to one record ----------------------------------------------------

class OnvifRecordTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        soap_default_wsdd__ProbeMatchesType(nullptr, &matches);
        for (wsdd__ProbeMatchType& entry : entries)
            soap_default_wsdd__ProbeMatchType(nullptr, &entry);
        soap_default_wsdd__ScopesType(nullptr, &scopes);
        matches.__sizeProbeMatch = 1;
        matches.ProbeMatch = entries;
    }
    static char* Text(const char* text) { return const_cast<char*>(text); }

    wsdd__ProbeMatchesType matches;
    wsdd__ProbeMatchType entries[3];
    wsdd__ScopesType scopes;
    std::string trace;
};

TEST_F(OnvifRecordTest, FillsRecordAndTraceFromFirstMatch)
{
    entries[0].wsa__EndpointReference.Address = Text("urn:uuid:1234");
    entries[0].Types = Text("dn:NetworkVideoTransmitter");
    scopes.__item = Text("onvif://www.onvif.org/name/Cam%201 onvif://www.onvif.org/hardware/X");
    entries[0].Scopes = &scopes;
    entries[0].XAddrs = Text("http://10.1.1.9/onvif/device_service http://[fe80::1]/x");
    entries[0].MetadataVersion = 4294967295u;
    entries[1].wsa__EndpointReference.Address = Text("urn:uuid:other");
    matches.__sizeProbeMatch = 2;

    std::unique_ptr<COnvifDevice> record(MakeOnvifRecord(&matches, 0xC0A80105u, trace));
    ASSERT_TRUE(record);
    EXPECT_STREQ(record->ipText.GetText(), "192.168.1.5");
    EXPECT_STREQ(record->uuid.GetText(), "urn:uuid:1234");
    EXPECT_STREQ(record->serviceAddress.GetText(), "http://10.1.1.9/onvif/device_service http://[fe80::1]/x");
    EXPECT_STREQ(record->name.GetText(), "Cam%201");
    EXPECT_EQ(trace, "=========================================\n"
                     "192.168.1.5\r\n"
                     "UUID:urn:uuid:1234\n"
                     "Type:dn:NetworkVideoTransmitter\n"
                     "Scopes:onvif://www.onvif.org/name/Cam%201 onvif://www.onvif.org/hardware/X\n"
                     "Service Address:http://10.1.1.9/onvif/device_service http://[fe80::1]/x\n"
                     "Metadata Version:4294967295\n");
}

TEST_F(OnvifRecordTest, AbsentTextsReadAsEmpty)
{
    trace = "before\n";
    std::unique_ptr<COnvifDevice> record(MakeOnvifRecord(&matches, 0xFF000001u, trace));
    ASSERT_TRUE(record);
    EXPECT_STREQ(record->ipText.GetText(), "255.0.0.1");
    EXPECT_STREQ(record->uuid.GetText(), "");
    EXPECT_STREQ(record->serviceAddress.GetText(), "");
    EXPECT_STREQ(record->name.GetText(), "");
    EXPECT_EQ(trace, "before\n=========================================\n255.0.0.1\r\nUUID:\nType:\n"
                     "Scopes:\nService Address:\nMetadata Version:0\n");
}

TEST_F(OnvifRecordTest, NoMatchGivesNoRecord)
{
    EXPECT_EQ(MakeOnvifRecord(nullptr, 1, trace), nullptr);
    matches.__sizeProbeMatch = 0;
    EXPECT_EQ(MakeOnvifRecord(&matches, 1, trace), nullptr);
    matches.__sizeProbeMatch = 1;
    matches.ProbeMatch = nullptr;
    EXPECT_EQ(MakeOnvifRecord(&matches, 1, trace), nullptr);
    EXPECT_EQ(trace, "");
}

TEST_F(OnvifRecordTest, DeviceTextCannotDriveTheTerminal)
{
    entries[0].wsa__EndpointReference.Address = Text("urn:\x1b[2J\r\nfake");
    entries[0].Types = Text("a\x7f\x08");
    scopes.__item = Text("onvif://www.onvif.org/name/\xC2\x9B" "31m\xE6\x91\x84 x");
    entries[0].Scopes = &scopes;
    entries[0].XAddrs = Text("http://h/\xFF\xC3");
    std::unique_ptr<COnvifDevice> record(MakeOnvifRecord(&matches, 0x7F000001u, trace));
    ASSERT_TRUE(record);
    // The record keeps the text as received; only the trace is made safe.
    EXPECT_STREQ(record->uuid.GetText(), "urn:\x1b[2J\r\nfake");
    EXPECT_EQ(trace, "=========================================\n127.0.0.1\r\n"
                     "UUID:urn:\\x1B[2J\\x0D\\x0Afake\n"
                     "Type:a\\x7F\\x08\n"
                     "Scopes:onvif://www.onvif.org/name/\\xC2\\x9B31m\xE6\x91\x84 x\n"
                     "Service Address:http://h/\\xFF\\xC3\n"
                     "Metadata Version:0\n");
}

TEST(OnvifTraceTextTest, KeepsPrintableUtf8AndEscapesTheRest)
{
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {nullptr, ""},
        {"plain ASCII ~!", "plain ASCII ~!"},
        {"\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80", "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"},
        {"\t\x01", "\\x09\\x01"},
        {"\xC2\xA0", "\xC2\xA0"},
        {"\xC2\x85", "\\xC2\\x85"},
        {"\xE4\xB8", "\\xE4\\xB8"},
        {"\x80x", "\\x80x"},
        {"\xC0\xAF", "\\xC0\\xAF"},
        // Overlong three- and four-byte forms, a surrogate, past U+10FFFF.
        {"\xE0\x80\xAF", "\\xE0\\x80\\xAF"},
        {"\xF0\x80\x80\xAF", "\\xF0\\x80\\x80\\xAF"},
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},
        {"\xF4\x91\x84\xA5", "\\xF4\\x91\\x84\\xA5"},
        // The last scalar values just inside the limits stay as they are.
        {"\xED\x9F\xBF\xF4\x8F\xBF\xBF", "\xED\x9F\xBF\xF4\x8F\xBF\xBF"},
    };
    for (const Case& c : cases) {
        std::string trace;
        AppendTraceText(trace, c.text);
        EXPECT_EQ(trace, c.expected);
    }
}

// --- Message ids ----------------------------------------------------------------------

TEST(OnvifMessageIdTest, FreshLowercaseIdsInGuidForm)
{
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        char id[37];
        MakeOnvifMessageId(id);
        ASSERT_EQ(std::strlen(id), 36u);
        for (int k = 0; k < 36; ++k) {
            if (k == 8 || k == 13 || k == 18 || k == 23)
                EXPECT_EQ(id[k], '-') << id;
            else
                EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(id[k])) &&
                            !std::isupper(static_cast<unsigned char>(id[k])))
                    << id;
        }
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100u);
}

} // namespace
