#include "OnvifSearch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The merge from a worker's list into the table. The worker here is never
// started: its list is filled by hand, as its thread would.
namespace {

class OnvifMergeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_discoverThread = new COnvifDiscoverThread;
        g_onvifDevices.devices.SetSize(0);
        g_onvifSortOrder = 1;
    }
    void TearDown() override
    {
        delete g_discoverThread;
        g_discoverThread = nullptr;
        g_onvifDevices.devices.SetSize(0);
        g_onvifSortOrder = 1;
    }

    static COnvifDevice* Device(const char* ip, const char* uuid)
    {
        COnvifDevice* device = new COnvifDevice;
        device->ipText.Assign(ip);
        device->uuid.Assign(uuid);
        return device;
    }
    static void Found(const char* ip, const char* uuid) { g_discoverThread->devices.Add(Device(ip, uuid)); }

    // "ip uuid" per table row.
    static std::vector<std::string> Table()
    {
        std::vector<std::string> rows;
        for (int i = 0; i < g_onvifDevices.devices.GetSize(); ++i)
            rows.push_back(std::string(g_onvifDevices.devices[i]->ipText.GetText()) + " " +
                           g_onvifDevices.devices[i]->uuid.GetText());
        return rows;
    }
};

TEST_F(OnvifMergeTest, NoWorkerOrNothingFoundAddsNothing)
{
    EXPECT_EQ(MergeOnvifResults(), 0);
    delete g_discoverThread;
    g_discoverThread = nullptr;
    EXPECT_EQ(MergeOnvifResults(), 0);
    EXPECT_TRUE(Table().empty());
}

TEST_F(OnvifMergeTest, MovesNewRecordsSortedAndDropsDuplicates)
{
    g_onvifDevices.devices.Add(Device("10.0.0.9", "urn:a"));
    Found("9.0.0.1", "urn:b");
    Found("10.0.0.5", "urn:a");   // already in the table
    Found("10.0.0.10", "urn:c");
    Found("1.1.1.1", "urn:b");    // duplicate within the batch: the first wins
    Found("10.0.0.10", "urn:A");  // uuids compare case-sensitively
    COnvifDevice* moved = g_discoverThread->devices[0];

    EXPECT_EQ(MergeOnvifResults(), 3);
    EXPECT_EQ(Table(), (std::vector<std::string>{"10.0.0.10 urn:c", "10.0.0.10 urn:A", "10.0.0.9 urn:a",
                                                 "9.0.0.1 urn:b"}));
    // The record itself changed hands; the worker's list is empty.
    EXPECT_EQ(FindOnvifDevice(g_onvifDevices, "urn:b"), moved);
    EXPECT_EQ(g_discoverThread->devices.GetSize(), 0);
    EXPECT_EQ(MergeOnvifResults(), 0);
}

TEST_F(OnvifMergeTest, SortsInTheCurrentDirection)
{
    g_onvifSortOrder = -1;
    Found("10.0.0.5", "urn:1");
    Found("9.0.0.1", "urn:2");
    Found("10.0.0.10", "urn:3");
    EXPECT_EQ(MergeOnvifResults(), 3);
    EXPECT_EQ(Table(), (std::vector<std::string>{"9.0.0.1 urn:2", "10.0.0.5 urn:1", "10.0.0.10 urn:3"}));
}

TEST_F(OnvifMergeTest, OnlyDuplicatesReturnZeroAndDoNotSort)
{
    // Out of order on purpose: a sort would show.
    g_onvifDevices.devices.Add(Device("9.0.0.1", "urn:x"));
    g_onvifDevices.devices.Add(Device("10.0.0.1", "urn:y"));
    Found("1.1.1.1", "urn:y");
    Found("2.2.2.2", "urn:x");
    EXPECT_EQ(MergeOnvifResults(), 0);
    EXPECT_EQ(Table(), (std::vector<std::string>{"9.0.0.1 urn:x", "10.0.0.1 urn:y"}));
    EXPECT_EQ(g_discoverThread->devices.GetSize(), 0);
}

TEST_F(OnvifMergeTest, ClearedTableTakesLaterRecordsOnly)
{
    Found("10.0.0.1", "urn:old");
    EXPECT_EQ(MergeOnvifResults(), 1);
    g_onvifDevices.devices.SetSize(0);
    Found("10.0.0.2", "urn:new");
    EXPECT_EQ(MergeOnvifResults(), 1);
    EXPECT_EQ(Table(), (std::vector<std::string>{"10.0.0.2 urn:new"}));
}

} // namespace
