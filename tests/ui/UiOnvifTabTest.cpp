#include "Main.h"
#include "OnvifDeviceModel.h"
#include "OnvifLoopback.h"
#include "OnvifSearch.h"
#include "PeDeviceModel.h"
#include "PeDevices.h"
#include "Setipformimp.h"
#include "Setmacformimp.h"
#include "Passwordformimp.h"
#include "UiTestSupport.h"

#include <QAction>
#include <QCoreApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

// The ONVIF tab of the real window, offscreen. Searches go to a loopback
// stand-in device; the tab's timer is driven by the tests.
namespace {

const char kNameScope[] = "onvif://www.onvif.org/name/";

COnvifDevice* AddRecord(const char* name, const char* ip, const char* uuid, const char* service = "")
{
    auto* device = new COnvifDevice;
    device->name.Assign(name);
    device->ipText.Assign(ip);
    device->uuid.Assign(uuid);
    device->serviceAddress.Assign(service);
    g_onvifDevices.devices.Add(device);
    return device;
}

QString Cell(int row, int column)
{
    return Form1->onvifModel->data(Form1->onvifModel->index(row, column)).toString();
}

std::vector<QString> Column(int column)
{
    std::vector<QString> texts;
    for (int row = 0; row < Form1->onvifModel->rowCount(); ++row)
        texts.push_back(Cell(row, column));
    return texts;
}

Qt::CheckState Check(int row)
{
    return Form1->onvifModel->data(Form1->onvifModel->index(row, 0), Qt::CheckStateRole).value<Qt::CheckState>();
}

void SetCheck(int row)
{
    Form1->onvifModel->setData(Form1->onvifModel->index(row, 0), Qt::Checked, Qt::CheckStateRole);
}

void SelectRow(int row)
{
    Form1->onvifListView->selectionModel()->select(Form1->onvifModel->index(row, 0),
                                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

bool WaitForWorkerEnd()
{
    for (int i = 0; i < 1000 && g_discoverThread && g_discoverThread->IsRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return !g_discoverThread || !g_discoverThread->IsRunning();
}

// Back to the state before the first search: the ended worker joined and gone.
void ForgetWorker()
{
    if (!g_discoverThread)
        return;
    g_discoverThread->Join();
    delete g_discoverThread;
    g_discoverThread = nullptr;
}

class OnvifTabTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        trace = std::tmpfile();
        SetOnvifTraceOutput(trace);
        CreateMainWindowOnce();
    }

    // Every test starts before the first search, with an empty table in
    // ascending order: the state of a freshly started tool.
    void SetUp() override
    {
        ASSERT_TRUE(device.IsOpen());
        SetOnvifProbeEndpoint(device.Endpoint().c_str());
        previous = SetUiHost(&host);
        ASSERT_TRUE(WaitForWorkerEnd());
        ForgetWorker();
        Form1->onvifButton_ClearTableClick();
        g_onvifSortOrder = 1;
        Form1->onvifModel->SetHeaderImage(OnvifDeviceModel::kIpColumn, 0);
    }

    void TearDown() override
    {
        if (WaitForWorkerEnd())
            ForgetWorker();
        SetUiHost(previous);
        SetOnvifProbeEndpoint(nullptr);
    }

    // Presses "搜索" and returns the Probe the device got ("" when none).
    std::string ClickSearch()
    {
        Form1->onvifButton_FindDevice->click();
        std::string probe;
        device.Receive(probe, 3000);
        return probe;
    }

    // Answers the current search with one reply per uuid, then ends it.
    void AnswerAndEnd(const std::vector<std::string>& replies)
    {
        for (const std::string& reply : replies)
            ASSERT_TRUE(device.Answer(reply));
        ASSERT_TRUE(device.Answer(kUnreadable));
        ASSERT_TRUE(WaitForWorkerEnd());
    }

    static std::string Reply(const std::string& uuid, const std::string& name)
    {
        const std::string scopes = std::string(kNameScope) + name + " onvif://www.onvif.org/type/video";
        return ProbeMatches(ProbeMatch(uuid.c_str(), "dn:NetworkVideoTransmitter", scopes.c_str(),
                                       "http://192.0.2.7/onvif/device_service"));
    }

    static FILE* trace;
    FakeOnvifDevice device;
    FakeHost host;
    IUiHost* previous = nullptr;
};

FILE* OnvifTabTest::trace = nullptr;

TEST_F(OnvifTabTest, RowShowsItsRecordInEveryCell)
{
    AddRecord("前门摄像机", "10.0.0.5", "urn:uuid:1", "http://10.0.0.5/onvif/device_service");
    // Bytes that are no UTF-8 still show, each as one character.
    AddRecord("Cam\xE9\xFF", "10.0.0.6", "urn:uuid:2");
    Form1->RefreshOnvifList();

    ASSERT_EQ(Form1->onvifModel->rowCount(), 2);
    const std::vector<std::vector<QString>> expected = {
        {QStringLiteral("前门摄像机"), QStringLiteral("ONVIF"), QStringLiteral("10.0.0.5"), QStringLiteral("urn:uuid:1"),
         QStringLiteral("http://10.0.0.5/onvif/device_service")},
        {QString::fromLatin1("Cam\xE9\xFF"), QStringLiteral("ONVIF"), QStringLiteral("10.0.0.6"),
         QStringLiteral("urn:uuid:2"), QString()},
    };
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < OnvifDeviceModel::kColumnCount; ++column)
            EXPECT_EQ(Cell(row, column), expected[row][column]) << row << "," << column;
}

TEST_F(OnvifTabTest, GrowthRebuildsTheListAndDropsChecksAndSelection)
{
    AddRecord("a", "10.0.0.1", "urn:uuid:a");
    AddRecord("b", "10.0.0.2", "urn:uuid:b");
    Form1->RefreshOnvifList();
    SetCheck(1);
    SelectRow(1);

    // Same size (as after a sort): rows are rewritten in place, checks and
    // selection stay on their row index.
    Form1->RefreshOnvifList();
    EXPECT_EQ(Check(1), Qt::Checked);
    EXPECT_EQ(Form1->SelectedOnvifRow(), 1);

    AddRecord("c", "10.0.0.3", "urn:uuid:c");
    Form1->RefreshOnvifList();
    EXPECT_EQ(Column(0), (std::vector<QString>{"a", "b", "c"}));
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(Check(row), Qt::Unchecked) << row;
    EXPECT_EQ(Form1->SelectedOnvifRow(), -1);
}

TEST_F(OnvifTabTest, HeaderClickWaitsForTheFirstSearchThenFlipsOrderAndMarker)
{
    AddRecord("", "9.0.0.1", "urn:uuid:1");
    AddRecord("", "10.0.0.5", "urn:uuid:2");
    AddRecord("", "10.0.0.10", "urn:uuid:3");
    Form1->RefreshOnvifList();
    const std::vector<QString> unsorted = Column(2);

    // Before any search: no effect on order or marker.
    Form1->onvifListView->horizontalHeader()->sectionClicked(OnvifDeviceModel::kIpColumn);
    EXPECT_EQ(g_onvifSortOrder, 1);
    EXPECT_EQ(Form1->onvifModel->HeaderImage(OnvifDeviceModel::kIpColumn), 0);
    EXPECT_EQ(Column(2), unsorted);

    ASSERT_FALSE(ClickSearch().empty());
    AnswerAndEnd({});

    // Other headers never sort.
    for (int column : {0, 1, 3, 4}) {
        Form1->onvifListView->horizontalHeader()->sectionClicked(column);
        EXPECT_EQ(g_onvifSortOrder, 1) << column;
        EXPECT_EQ(Column(2), unsorted) << column;
    }
    // Text order, descending first, then ascending again.
    const struct {
        int order;
        int image;
        std::vector<QString> ips;
    } steps[] = {
        {-1, 1, {"9.0.0.1", "10.0.0.5", "10.0.0.10"}},
        {1, 0, {"10.0.0.10", "10.0.0.5", "9.0.0.1"}},
    };
    for (const auto& step : steps) {
        Form1->onvifListView->horizontalHeader()->sectionClicked(OnvifDeviceModel::kIpColumn);
        EXPECT_EQ(g_onvifSortOrder, step.order);
        EXPECT_EQ(Form1->onvifModel->HeaderImage(OnvifDeviceModel::kIpColumn), step.image);
        EXPECT_EQ(Column(2), step.ips);
    }
}

TEST_F(OnvifTabTest, HeaderClickAfterASearchFlipsEvenAnEmptyTable)
{
    ASSERT_FALSE(ClickSearch().empty());
    AnswerAndEnd({});
    Form1->onvifListViewColumnClick(OnvifDeviceModel::kIpColumn);
    EXPECT_EQ(g_onvifSortOrder, -1);
    EXPECT_EQ(Form1->onvifModel->HeaderImage(OnvifDeviceModel::kIpColumn), 1);
    EXPECT_EQ(Form1->onvifModel->rowCount(), 0);
}

TEST_F(OnvifTabTest, SearchResultsReachTheListOnTheTimerTick)
{
    ASSERT_FALSE(ClickSearch().empty());
    // A second press while the search runs sends nothing.
    Form1->onvifButton_FindDevice->click();
    AnswerAndEnd({Reply("urn:uuid:b", "摄像机B"), Reply("urn:uuid:a", "Cam%20A"), Reply("urn:uuid:b", "again")});
    std::string second;
    EXPECT_FALSE(device.Receive(second, 200));

    EXPECT_EQ(Form1->onvifModel->rowCount(), 0); // nothing before a tick
    // The window's own timer brings them in.
    Form1->onvifTimer->start();
    for (int i = 0; i < 100 && Form1->onvifModel->rowCount() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        QCoreApplication::processEvents();
    }
    Form1->onvifTimer->stop();
    ASSERT_EQ(Form1->onvifModel->rowCount(), 2);
    EXPECT_EQ(Column(0), (std::vector<QString>{QStringLiteral("摄像机B"), QStringLiteral("Cam%20A")}));
    EXPECT_EQ(Column(2), (std::vector<QString>{"127.0.0.1", "127.0.0.1"}));
    EXPECT_EQ(Column(3), (std::vector<QString>{"urn:uuid:b", "urn:uuid:a"}));

    // A tick that merges nothing leaves the list alone.
    SetCheck(0);
    SelectRow(1);
    Form1->onvifTimerTimer();
    EXPECT_EQ(Check(0), Qt::Checked);
    EXPECT_EQ(Form1->SelectedOnvifRow(), 1);
}

TEST_F(OnvifTabTest, ClearEmptiesOnlyThisTabAndARunningSearchRefillsIt)
{
    auto* pe = new tagDevice{};
    g_peDevices.Add(pe);
    Form1->RefreshPeList();
    g_onvifSortOrder = -1;
    Form1->onvifModel->SetHeaderImage(OnvifDeviceModel::kIpColumn, 1);
    AddRecord("old", "10.0.0.1", "urn:uuid:old");
    Form1->RefreshOnvifList();

    ASSERT_FALSE(ClickSearch().empty());
    Form1->onvifButton_ClearTable->click();
    EXPECT_EQ(g_onvifDevices.devices.GetSize(), 0);
    EXPECT_EQ(Form1->onvifModel->rowCount(), 0);
    EXPECT_EQ(g_peDevices.GetSize(), 1);
    EXPECT_EQ(Form1->peModel->rowCount(), 1);
    EXPECT_EQ(g_onvifSortOrder, -1);
    EXPECT_EQ(Form1->onvifModel->HeaderImage(OnvifDeviceModel::kIpColumn), 1);

    AnswerAndEnd({Reply("urn:uuid:old", "back")});
    Form1->onvifTimerTimer();
    EXPECT_EQ(Column(0), (std::vector<QString>{"back"}));
    Form1->peButton_ClearTableClick();
}

TEST_F(OnvifTabTest, WebOpensTheIpTextNeverTheServiceAddress)
{
    AddRecord("a", "10.0.0.9", "urn:uuid:a", "http://10.1.1.1:8080/onvif/device_service");
    AddRecord("b", "10.0.0.10", "urn:uuid:b", "http://10.1.1.2/onvif/device_service");
    Form1->RefreshOnvifList();

    Form1->onvifButton_Web->click();
    Form1->onvifMenu_Web->trigger();
    EXPECT_TRUE(host.urls.empty());

    SelectRow(1);
    Form1->onvifButton_Web->click();
    SelectRow(0);
    Form1->onvifMenu_Web->trigger();
    EXPECT_EQ(host.urls, (std::vector<QString>{"http://10.0.0.10/", "http://10.0.0.9/"}));
    EXPECT_TRUE(host.boxes.empty());
}

} // namespace
