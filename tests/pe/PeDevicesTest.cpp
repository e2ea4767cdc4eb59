#include "PeDevices.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

tagDevice* MakeDevice(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint8_t tag = 0)
{
    tagDevice* device = new tagDevice();
    const std::uint8_t ip[4] = {a, b, c, d};
    std::memcpy(device->ip, ip, 4);
    device->mac[5] = tag;
    return device;
}

std::vector<tagDevice*> Order(XArray<tagDevice>& table)
{
    std::vector<tagDevice*> order;
    for (int i = 0; i < table.GetSize(); ++i)
        order.push_back(table[i]);
    return order;
}

// The bubble sort the table's order is defined by: passes over a shrinking
// range, exchanging strictly misordered neighbours, until a pass exchanges
// nothing.
void ReferenceBubbleSort(std::vector<tagDevice*>& v, int order)
{
    int n = static_cast<int>(v.size());
    while (n >= 2) {
        int exchanges = 0;
        for (int i = 0; i <= n - 2; ++i) {
            int c = ComparePeDeviceIp(v[i], v[i + 1]);
            if ((order > 0 && c > 0) || (order < 0 && c < 0)) {
                std::swap(v[i], v[i + 1]);
                ++exchanges;
            }
        }
        if (exchanges == 0)
            break;
        --n;
    }
}

class PeDevicesTest : public ::testing::Test {
protected:
    void SetUp() override { g_peDevices.SetSize(0); }
    void TearDown() override { g_peDevices.SetSize(0); }
};

struct CompareCase {
    std::uint8_t a[4];
    std::uint8_t b[4];
    int expected;
};

TEST(ComparePeDeviceIpTest, ComparesNumericallyOctetByOctet)
{
    const CompareCase cases[] = {
        {{10, 0, 0, 2}, {10, 0, 0, 10}, -1},     // numeric, not textual
        {{10, 0, 0, 1}, {192, 168, 1, 5}, -1},
        {{192, 168, 1, 5}, {10, 0, 0, 1}, 1},
        {{10, 0, 0, 1}, {10, 0, 0, 1}, 0},
        {{0, 0, 0, 0}, {0, 0, 0, 1}, -1},
        {{255, 0, 0, 0}, {128, 255, 255, 255}, 1}, // octets are unsigned
        {{1, 2, 3, 200}, {1, 2, 3, 100}, 1},
    };
    for (const CompareCase& c : cases) {
        tagDevice a{};
        tagDevice b{};
        std::memcpy(a.ip, c.a, 4);
        std::memcpy(b.ip, c.b, 4);
        EXPECT_EQ(ComparePeDeviceIp(&a, &b), c.expected)
            << int(c.a[0]) << "." << int(c.a[3]) << " vs " << int(c.b[0]) << "." << int(c.b[3]);
    }
}

TEST_F(PeDevicesTest, FindPeDeviceMatchesAllSixBytes)
{
    EXPECT_EQ(FindPeDevice(reinterpret_cast<const std::uint8_t*>("\0\0\0\0\0\0")), -1);
    for (std::uint8_t tag = 0; tag < 3; ++tag)
        g_peDevices.Add(MakeDevice(10, 0, 0, tag, tag));
    const std::uint8_t second[6] = {0, 0, 0, 0, 0, 1};
    const std::uint8_t lastByteOff[6] = {0, 0, 0, 0, 0, 7};
    const std::uint8_t firstByteOff[6] = {1, 0, 0, 0, 0, 1};
    EXPECT_EQ(FindPeDevice(second), 1);
    EXPECT_EQ(FindPeDevice(lastByteOff), -1);
    EXPECT_EQ(FindPeDevice(firstByteOff), -1);
}

TEST_F(PeDevicesTest, SortOfEmptyOrSingleTableChangesNothing)
{
    SortPeDevices(g_peDevices, 1);
    EXPECT_EQ(g_peDevices.GetSize(), 0);
    tagDevice* only = MakeDevice(9, 9, 9, 9);
    g_peDevices.Add(only);
    SortPeDevices(g_peDevices, -1);
    ASSERT_EQ(g_peDevices.GetSize(), 1);
    EXPECT_EQ(g_peDevices[0], only);
}

TEST_F(PeDevicesTest, SortsBothDirectionsKeepingEqualIpsInOrder)
{
    tagDevice* ten = MakeDevice(10, 0, 0, 10);
    tagDevice* two = MakeDevice(10, 0, 0, 2);
    tagDevice* zero = MakeDevice(0, 0, 0, 0);
    tagDevice* far = MakeDevice(192, 168, 1, 5);
    tagDevice* twinA = MakeDevice(10, 0, 0, 1, 1);
    tagDevice* twinB = MakeDevice(10, 0, 0, 1, 2);
    for (tagDevice* d : {ten, twinA, two, far, zero, twinB})
        g_peDevices.Add(d);

    SortPeDevices(g_peDevices, 1);
    EXPECT_EQ(Order(g_peDevices), (std::vector<tagDevice*>{zero, twinA, twinB, two, ten, far}));
    SortPeDevices(g_peDevices, -1);
    EXPECT_EQ(Order(g_peDevices), (std::vector<tagDevice*>{far, ten, two, twinA, twinB, zero}));
    SortPeDevices(g_peDevices, 0);
    EXPECT_EQ(Order(g_peDevices), (std::vector<tagDevice*>{far, ten, two, twinA, twinB, zero}));
}

// Any sort may stand in for the bubble sort only if it gives the identical
// order, ties included; random tables with many equal IPs show it does.
TEST_F(PeDevicesTest, OrderIsIdenticalToTheBubbleSort)
{
    std::mt19937 random(20261211);
    for (int round = 0; round < 200; ++round) {
        g_peDevices.SetSize(0);
        int n = static_cast<int>(random() % 60);
        for (int i = 0; i < n; ++i)
            g_peDevices.Add(MakeDevice(10, 0, static_cast<std::uint8_t>(random() % 3),
                                       static_cast<std::uint8_t>(random() % 8), static_cast<std::uint8_t>(i)));
        for (int order : {1, -1, -1, 1}) {
            std::vector<tagDevice*> expected = Order(g_peDevices);
            ReferenceBubbleSort(expected, order);
            SortPeDevices(g_peDevices, order);
            ASSERT_EQ(Order(g_peDevices), expected) << "round " << round << " order " << order;
        }
    }
}

} // namespace
