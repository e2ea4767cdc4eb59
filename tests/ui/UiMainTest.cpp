#include "Application.h"
#include "Main.h"
#include "Passwordformimp.h"
#include "PeClient.h"
#include "PeDeviceModel.h"
#include "PeDevices.h"
#include "PeFrame.h"
#include "Setipformimp.h"
#include "Setmacformimp.h"
#include "UiTestSupport.h"
#include "UiHost.h"
#include "XBuffer.h"
#include "XException.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <functional>
#include <stdexcept>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A loopback "device" that every PE request is redirected to.
class DeviceSocket {
public:
    DeviceSocket()
    {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~DeviceSocket() { close(fd); }

    // Every request that arrives within waitMs of the previous one.
    std::vector<PeMessage> Receive(int waitMs = 300)
    {
        std::vector<PeMessage> messages;
        pollfd p{fd, POLLIN, 0};
        while (poll(&p, 1, waitMs) == 1) {
            std::uint8_t data[512];
            const ssize_t size = recv(fd, data, sizeof data, 0);
            PeMessage message{};
            EXPECT_EQ(DecodePeFrame(data, int(size), message), 0);
            messages.push_back(message);
            waitMs = 100;
        }
        return messages;
    }

    // Sends bytes to the tool's own PE endpoint.
    void SendToTool(const Bytes& bytes)
    {
        sockaddr_in tool{};
        socklen_t length = sizeof tool;
        getsockname(g_peSocket.GetHandle(), reinterpret_cast<sockaddr*>(&tool), &length);
        tool.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&tool), sizeof tool);
    }

    int fd = -1;
    int port = 0;
};

DeviceSocket& Device()
{
    static DeviceSocket device;
    return device;
}

const std::uint8_t kMacA[6] = {0x00, 0x1A, 0x6B, 0x38, 0xD1, 0x55};
const std::uint8_t kMacB[6] = {0x00, 0x1A, 0x6B, 0x38, 0xD1, 0x66};
const std::uint8_t kMacC[6] = {0x00, 0x1A, 0x6B, 0x38, 0xD1, 0x77};

tagDevice* AddDevice(const std::uint8_t* mac, std::uint8_t lastOctet, const char* name = "dev")
{
    auto* device = new tagDevice{};
    std::memcpy(device->mac, mac, 6);
    const std::uint8_t ip[4] = {192, 168, 1, lastOctet};
    const std::uint8_t mask[4] = {255, 255, 255, 0};
    const std::uint8_t gateway[4] = {192, 168, 1, 1};
    std::memcpy(device->ip, ip, 4);
    std::memcpy(device->mask, mask, 4);
    std::memcpy(device->gateway, gateway, 4);
    std::memcpy(device->name, name, strnlen(name, sizeof device->name));
    g_peDevices.Add(device);
    SortPeDevices(g_peDevices, g_peSortOrder);
    return device;
}

QString Cell(int row, int column)
{
    return Form1->peModel->data(Form1->peModel->index(row, column)).toString();
}

void SelectRow(int row)
{
    Form1->peListView->selectionModel()->select(Form1->peModel->index(row, 0),
                                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// The next widget that the Tab key reaches from widget.
QWidget* NextTabStop(QWidget* widget)
{
    QWidget* next = widget->nextInFocusChain();
    while (next != widget && !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    return next;
}

// The IP header's image as pixels, and the marker image it should be.
QImage HeaderPicture(int column)
{
    const QVariant image = Form1->peModel->headerData(column, Qt::Horizontal, Qt::DecorationRole);
    return image.value<QIcon>().pixmap(24, 24).toImage();
}

QImage Marker(int index)
{
    return QIcon(index == 0 ? QStringLiteral(":/images/sort-up.png") : QStringLiteral(":/images/sort-down.png"))
        .pixmap(24, 24)
        .toImage();
}

Bytes Payload(const PeMessage& message)
{
    return Bytes(message.payload, message.payload + message.payloadLength);
}

// Checks that messages are exactly command with payload to mac, then the
// search for mac that every command is followed by.
void ExpectCommand(const std::vector<PeMessage>& messages, std::uint8_t command, const std::uint8_t* mac,
                   const Bytes& payload)
{
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].command, command);
    EXPECT_EQ(Bytes(messages[0].mac, messages[0].mac + 6), Bytes(mac, mac + 6));
    EXPECT_EQ(Payload(messages[0]), payload);
    EXPECT_EQ(messages[1].command, kPeCommandSearch);
    EXPECT_EQ(Bytes(messages[1].mac, messages[1].mac + 6), Bytes(mac, mac + 6));
}

// One main window and its dialogs for the whole run, as in the tool; each test
// starts from an empty table, ascending order and a fresh fake desktop.
class MainWindowTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        SetPeRequestTarget("127.0.0.1", Device().port);
        CreateMainWindowOnce();
    }

    void SetUp() override
    {
        previous = SetUiHost(&host);
        Form1->peButton_ClearTableClick();
        if (g_peSortOrder < 0)
            Form1->peListViewColumnClick(PeDeviceModel::kIpColumn);
        Device().Receive(0);
    }

    void TearDown() override { SetUiHost(previous); }

    // Adds devices A (.20), B (.30), C (.10) and lists them: rows C, A, B.
    void AddThreeDevices()
    {
        AddDevice(kMacA, 20, "A");
        AddDevice(kMacB, 30, "B");
        AddDevice(kMacC, 10, "C");
        Form1->RefreshPeList();
    }

    // Nothing happened on the desktop or on the wire.
    void ExpectSilent()
    {
        EXPECT_TRUE(host.boxes.empty());
        EXPECT_TRUE(host.urls.empty());
        EXPECT_TRUE(host.shown.empty());
        EXPECT_TRUE(Device().Receive(100).empty());
    }

    FakeHost host;
    IUiHost* previous = nullptr;
};

TEST_F(MainWindowTest, WindowShowsTitleTabsBarsAndButtons)
{
    EXPECT_EQ(Form1->windowTitle(), QStringLiteral("Netvane V1.02.0002"));
    EXPECT_EQ(Form1->VersionText(), QStringLiteral(" V1.02.0002"));
    EXPECT_EQ(Form1->size(), QSize(890, 580));
    EXPECT_EQ(Form1->PageControl1->tabPosition(), QTabWidget::South);
    ASSERT_EQ(Form1->PageControl1->count(), 2);
    EXPECT_EQ(Form1->PageControl1->tabText(0), QStringLiteral("Velanor"));
    EXPECT_EQ(Form1->PageControl1->tabText(1), QStringLiteral("ONVIF"));
    EXPECT_EQ(Form1->PageControl1->currentIndex(), 0);

    for (QWidget* bar : {Form1->pePanel_Top, Form1->pePanel_Bottom, Form1->onvifPanel_Top, Form1->onvifPanel_Bottom})
        EXPECT_EQ(bar->height(), 44) << bar->objectName().toStdString();
    EXPECT_EQ(Form1->pePanel_TopL->width(), 217);
    EXPECT_EQ(Form1->onvifPanel_TopL->width(), 217);
    EXPECT_EQ(Form1->pePanel_BottomR->width(), 442);
    EXPECT_EQ(Form1->onvifPanel_BottomR->width(), 122);

    const struct {
        QPushButton* button;
        const char* text;
        int x;
        QWidget* part;
    } buttons[] = {
        {Form1->peButton_FindDevice, "搜索", 16, Form1->pePanel_TopL},
        {Form1->peButton_ClearTable, "清空列表", 96, Form1->pePanel_TopL},
        {Form1->peButton_Web, "Web", 16, Form1->pePanel_BottomR},
        {Form1->peButton_SetIp, "IP设置", 96, Form1->pePanel_BottomR},
        {Form1->peButton_Restart, "重启", 176, Form1->pePanel_BottomR},
        {Form1->peButton_Shutdown, "关机", 256, Form1->pePanel_BottomR},
        {Form1->peButton_SetMac, "MAC设置", 336, Form1->pePanel_BottomR},
        {Form1->onvifButton_FindDevice, "搜索", 16, Form1->onvifPanel_TopL},
        {Form1->onvifButton_ClearTable, "清空列表", 96, Form1->onvifPanel_TopL},
        {Form1->onvifButton_Web, "Web", 16, Form1->onvifPanel_BottomR},
    };
    for (const auto& b : buttons) {
        EXPECT_EQ(b.button->text(), QString::fromUtf8(b.text));
        EXPECT_EQ(b.button->geometry(), QRect(b.x, 8, 75, 25)) << b.text;
        EXPECT_EQ(b.button->parentWidget(), b.part) << b.text;
    }

    // Keyboard order of the action buttons, not their left-to-right order.
    EXPECT_EQ(NextTabStop(Form1->peButton_SetIp), Form1->peButton_Restart);
    EXPECT_EQ(NextTabStop(Form1->peButton_Restart), Form1->peButton_SetMac);
    EXPECT_EQ(NextTabStop(Form1->peButton_SetMac), Form1->peButton_Web);
    EXPECT_EQ(NextTabStop(Form1->peButton_Web), Form1->peButton_Shutdown);

    const QList<QAction*> items = Form1->peMenu->actions();
    const char* const texts[] = {"Web", "IP设置", "重启", "关机", "MAC设置"};
    ASSERT_EQ(items.size(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(items[i]->text(), QString::fromUtf8(texts[i]));
    ASSERT_EQ(Form1->onvifMenu->actions().size(), 1);
    EXPECT_EQ(Form1->onvifMenu->actions()[0]->text(), QStringLiteral("Web"));
}

TEST_F(MainWindowTest, ListsHaveTheirColumnsAndSettings)
{
    const struct {
        QTableView* view;
        std::vector<std::pair<const char*, int>> columns;
        int ipColumn;
    } lists[] = {
        {Form1->peListView,
         {{"设备名称", 160}, {"设备型号", 117}, {"设备版本", 117}, {"设备序列号", 160}, {"协议", 80},
          {"IP地址", 117}, {"子网掩码", 117}, {"网关", 117}, {"MAC地址", 117}},
         5},
        {Form1->onvifListView, {{"名称", 200}, {"协议", 80}, {"IP地址", 117}, {"UUID", 320}, {"服务地址", 320}}, 2},
    };
    for (const auto& list : lists) {
        QAbstractItemModel* model = list.view->model();
        ASSERT_EQ(model->columnCount(), int(list.columns.size()));
        for (int c = 0; c < model->columnCount(); ++c) {
            EXPECT_EQ(model->headerData(c, Qt::Horizontal).toString(), QString::fromUtf8(list.columns[c].first));
            EXPECT_EQ(list.view->columnWidth(c), list.columns[c].second) << list.columns[c].first;
            const QVariant image = model->headerData(c, Qt::Horizontal, Qt::DecorationRole);
            EXPECT_EQ(!image.value<QIcon>().pixmap(24, 24).isNull(), c == list.ipColumn) << list.columns[c].first;
        }
        EXPECT_EQ(model->rowCount(), 0);
        EXPECT_TRUE(list.view->showGrid());
        EXPECT_EQ(list.view->selectionBehavior(), QAbstractItemView::SelectRows);
        EXPECT_EQ(list.view->selectionMode(), QAbstractItemView::SingleSelection);
        EXPECT_EQ(list.view->editTriggers(), QAbstractItemView::NoEditTriggers);
    }
}

TEST_F(MainWindowTest, RefreshWritesEveryCellOfARow)
{
    tagDevice* device = AddDevice(kMacA, 20, "Cam-1");
    std::strcpy(device->model, "PE-200");
    std::strcpy(device->version, "V1.3");
    std::strcpy(device->serial, "SN0001");
    Form1->RefreshPeList();
    ASSERT_EQ(Form1->peModel->rowCount(), 1);
    const char* const expected[] = {"Cam-1",        "PE-200",        "V1.3",        "SN0001",      "Velanor",
                                    "192.168.1.20", "255.255.255.0", "192.168.1.1", "001A6B38D155"};
    for (int c = 0; c < 9; ++c)
        EXPECT_EQ(Cell(0, c), QString::fromUtf8(expected[c])) << c;
    EXPECT_EQ(Form1->peModel->data(Form1->peModel->index(0, 0), Qt::CheckStateRole).toInt(), Qt::Unchecked);
    EXPECT_TRUE(Form1->peModel->flags(Form1->peModel->index(0, 0)) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(Form1->peModel->flags(Form1->peModel->index(0, 3)) & Qt::ItemIsEditable);
}

TEST_F(MainWindowTest, NameFieldShowsBytesUpToTheFirstZero)
{
    const struct {
        Bytes name;
        QString expected;
    } cases[] = {
        {Bytes(32, 'N'), QString(32, QLatin1Char('N'))},
        {Bytes{0, 'a', 'b', 'c'}, QString()},
        {Bytes{'a', 'b', 0, 'c', 'd'}, QStringLiteral("ab")},
        {Bytes{0xE8, 0xAE, 0xBE, 0xE5, 0xA4, 0x87}, QString::fromUtf8("设备")},
    };
    for (const auto& c : cases) {
        Form1->peButton_ClearTableClick();
        tagDevice* device = AddDevice(kMacA, 20);
        std::memset(device->name, 0, 32);
        std::memcpy(device->name, c.name.data(), c.name.size());
        Form1->RefreshPeList();
        EXPECT_EQ(Cell(0, 0), c.expected);
        EXPECT_EQ(Cell(0, 8), QStringLiteral("001A6B38D155"));
    }
}

TEST_F(MainWindowTest, BadBytesInTextsDoNotBreakTheRow)
{
    tagDevice* device = AddDevice(kMacA, 20);
    const Bytes name = {0xFF, 0xFE, 'o', 'k', 0x01, 0x1B, '\n', 0xC3};
    std::memcpy(device->name, name.data(), name.size());
    std::memset(device->model, 0x80, 32);
    Form1->RefreshPeList();
    ASSERT_EQ(Form1->peModel->rowCount(), 1);
    EXPECT_TRUE(Cell(0, 0).contains(QStringLiteral("ok")));
    EXPECT_FALSE(Cell(0, 1).isEmpty());
    EXPECT_EQ(Cell(0, 4), QStringLiteral("Velanor"));
    EXPECT_EQ(Cell(0, 5), QStringLiteral("192.168.1.20"));
    EXPECT_EQ(Cell(0, 8), QStringLiteral("001A6B38D155"));
}

TEST_F(MainWindowTest, RefreshAppendsOnlyNewRowsAndClearRemovesAll)
{
    std::vector<std::pair<int, int>> inserted;
    const auto connection = QObject::connect(Form1->peModel, &QAbstractItemModel::rowsInserted,
                                             [&](const QModelIndex&, int first, int last) {
                                                 inserted.emplace_back(first, last);
                                             });
    AddDevice(kMacA, 20);
    AddDevice(kMacB, 30);
    Form1->RefreshPeList();
    Form1->RefreshPeList();
    AddDevice(kMacC, 40);
    Form1->RefreshPeList();
    QObject::disconnect(connection);
    EXPECT_EQ(inserted, (std::vector<std::pair<int, int>>{{0, 1}, {2, 2}}));
    EXPECT_EQ(Form1->peModel->rowCount(), 3);

    Form1->peListViewColumnClick(PeDeviceModel::kIpColumn);
    Form1->peButton_ClearTable->click();
    EXPECT_EQ(g_peDevices.GetSize(), 0);
    EXPECT_EQ(Form1->peModel->rowCount(), 0);
    // Clearing keeps the order and its marker.
    EXPECT_EQ(g_peSortOrder, -1);
    EXPECT_EQ(Form1->peModel->HeaderImage(PeDeviceModel::kIpColumn), 1);
}

TEST_F(MainWindowTest, IpHeaderClickFlipsOrderAndMarker)
{
    // Flips on an empty table as well.
    Q_EMIT Form1->peListView->horizontalHeader()->sectionClicked(5);
    EXPECT_EQ(g_peSortOrder, -1);
    EXPECT_EQ(Form1->peModel->HeaderImage(5), 1);
    Q_EMIT Form1->peListView->horizontalHeader()->sectionClicked(5);
    EXPECT_EQ(g_peSortOrder, 1);

    ASSERT_FALSE(Marker(0).isNull());
    ASSERT_NE(Marker(0), Marker(1));
    AddThreeDevices();
    const struct {
        int order;
        int image;
        const char* rows[3];
    } steps[] = {{-1, 1, {"B", "A", "C"}}, {1, 0, {"C", "A", "B"}}};
    for (const auto& step : steps) {
        Q_EMIT Form1->peListView->horizontalHeader()->sectionClicked(5);
        EXPECT_EQ(g_peSortOrder, step.order);
        EXPECT_EQ(Form1->peModel->HeaderImage(5), step.image);
        EXPECT_EQ(HeaderPicture(5), Marker(step.image));
        for (int row = 0; row < 3; ++row) {
            EXPECT_EQ(Cell(row, 0), QString::fromLatin1(step.rows[row])) << row;
            EXPECT_EQ(g_peDevices[row]->name[0], step.rows[row][0]);
        }
    }
}

TEST_F(MainWindowTest, OtherHeaderClicksDoNothing)
{
    AddThreeDevices();
    for (int column = 0; column < PeDeviceModel::kColumnCount; ++column) {
        if (column == PeDeviceModel::kIpColumn)
            continue;
        Q_EMIT Form1->peListView->horizontalHeader()->sectionClicked(column);
        EXPECT_EQ(g_peSortOrder, 1) << column;
        EXPECT_EQ(Form1->peModel->HeaderImage(PeDeviceModel::kIpColumn), 0);
        EXPECT_EQ(Form1->peModel->HeaderImage(column), -1);
        EXPECT_EQ(Cell(0, 0), QStringLiteral("C"));
        EXPECT_EQ(Cell(2, 0), QStringLiteral("B"));
    }
}

TEST_F(MainWindowTest, ChecksAndSelectionStayOnTheirRowWhenADeviceArrives)
{
    AddDevice(kMacA, 20, "A");
    AddDevice(kMacB, 30, "B");
    Form1->RefreshPeList();
    ASSERT_TRUE(Form1->peModel->setData(Form1->peModel->index(1, 0), Qt::Checked, Qt::CheckStateRole));
    SelectRow(1);
    AddDevice(kMacC, 10, "C"); // sorts in before both
    Form1->RefreshPeList();
    ASSERT_EQ(Form1->peModel->rowCount(), 3);
    EXPECT_EQ(Form1->peModel->data(Form1->peModel->index(1, 0), Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(Form1->peModel->data(Form1->peModel->index(0, 0), Qt::CheckStateRole).toInt(), Qt::Unchecked);
    EXPECT_EQ(Form1->peModel->data(Form1->peModel->index(2, 0), Qt::CheckStateRole).toInt(), Qt::Unchecked);
    EXPECT_EQ(Form1->SelectedPeRow(), 1);
    EXPECT_EQ(Cell(1, 0), QStringLiteral("A"));
}

TEST_F(MainWindowTest, TimerTickListsAReplyingDevice)
{
    PeMessage reply{};
    reply.command = kPeCommandSearch;
    reply.kind = kPeKindDeviceInfo;
    std::memcpy(reply.mac, kMacA, 6);
    reply.payloadLength = kPeDeviceInfoLength;
    const std::uint8_t ip[4] = {10, 1, 2, 3};
    std::memcpy(reply.payload + kPeIpOffset, ip, 4);
    std::memcpy(reply.payload + kPeNameOffset, "Tick", 4);
    XBuffer frame;
    ASSERT_EQ(EncodePeFrame(frame, reply), 0);
    Device().SendToTool(Bytes(frame.GetData(), frame.GetData() + frame.GetSize()));
    for (int i = 0; i < 100 && Form1->peModel->rowCount() == 0; ++i) {
        usleep(20000);
        Form1->peTimerTimer();
    }
    ASSERT_EQ(Form1->peModel->rowCount(), 1);
    EXPECT_EQ(Cell(0, 0), QStringLiteral("Tick"));
    EXPECT_EQ(Cell(0, 5), QStringLiteral("10.1.2.3"));
}

TEST_F(MainWindowTest, SearchGoesToEveryDeviceAndKeepsTheList)
{
    AddDevice(kMacA, 20);
    Form1->RefreshPeList();
    Form1->peButton_FindDevice->click();
    const std::vector<PeMessage> messages = Device().Receive();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].command, kPeCommandSearch);
    EXPECT_EQ(Bytes(messages[0].mac, messages[0].mac + 6), Bytes(6, 0xFF));
    EXPECT_EQ(Form1->peModel->rowCount(), 1);
    EXPECT_EQ(g_peDevices.GetSize(), 1);
}

TEST_F(MainWindowTest, WebOpensTheSelectedDevicesPage)
{
    AddThreeDevices();
    SelectRow(2);
    Form1->peButton_Web->click();
    Form1->peMenu_Web->trigger();
    EXPECT_EQ(host.urls, (std::vector<QString>{QStringLiteral("http://192.168.1.30/"),
                                                QStringLiteral("http://192.168.1.30/")}));
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(MainWindowTest, ActionsWithoutAUsableSelectionEndSilently)
{
    AddDevice(kMacA, 20);
    AddDevice(kMacB, 30);
    Form1->RefreshPeList();
    // Row 1 selected, then the table shrinks behind the list: the row lies
    // beyond the table.
    const std::function<void()> selections[] = {
        [] { Form1->peListView->clearSelection(); },
        [] {
            SelectRow(1);
            g_peDevices.SetSize(1);
        },
    };
    QPushButton* const buttons[] = {Form1->peButton_Web, Form1->peButton_SetIp, Form1->peButton_Restart,
                                    Form1->peButton_Shutdown};
    QAction* const items[] = {Form1->peMenu_Web, Form1->peMenu_SetIp, Form1->peMenu_Restart,
                              Form1->peMenu_Shutdown};
    for (const auto& select : selections) {
        select();
        for (QPushButton* button : buttons)
            button->click();
        for (QAction* item : items)
            item->trigger();
        ExpectSilent();
    }
}

TEST_F(MainWindowTest, MenuItemsClickTheirButtons)
{
    const std::pair<QAction*, QPushButton*> pairs[] = {
        {Form1->peMenu_Web, Form1->peButton_Web},           {Form1->peMenu_SetIp, Form1->peButton_SetIp},
        {Form1->peMenu_Restart, Form1->peButton_Restart},   {Form1->peMenu_Shutdown, Form1->peButton_Shutdown},
        {Form1->peMenu_SetMac, Form1->peButton_SetMac},
    };
    for (const auto& [item, button] : pairs) {
        int clicks = 0;
        const auto connection = QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
        item->trigger();
        QObject::disconnect(connection);
        EXPECT_EQ(clicks, 1) << button->text().toStdString();
    }
}

TEST_F(MainWindowTest, SetIpSendsTheEditedAddresses)
{
    AddThreeDevices();
    SelectRow(1); // device A
    host.steps.push_back([](QDialog*) {
        EXPECT_EQ(SetIpForm->IpEdit->text(), QStringLiteral("192.168.1.20"));
        EXPECT_EQ(SetIpForm->MaskEdit->text(), QStringLiteral("255.255.255.0"));
        EXPECT_EQ(SetIpForm->GatewayEdit->text(), QStringLiteral("192.168.1.1"));
        SetIpForm->IpEdit->setText(QStringLiteral("10.0.0.1"));
        SetIpForm->MaskEdit->setText(QStringLiteral("255.255.0.0"));
        SetIpForm->GatewayEdit->setText(QStringLiteral("0x0A.0.0.0376"));
        SetIpForm->OkButton->click();
    });
    Form1->peButton_SetIp->click();
    ASSERT_EQ(host.shown, (std::vector<QDialog*>{SetIpForm}));
    EXPECT_EQ(host.captions[0], QString::fromUtf8("IP属性 MAC=001A6B38D155"));
    EXPECT_TRUE(host.boxes.empty());
    ExpectCommand(Device().Receive(), kPeCommandSetIp, kMacA,
                  {10, 0, 0, 1, 255, 255, 0, 0, 10, 0, 0, 254});
    // The action changes neither the table nor the list.
    EXPECT_EQ(Cell(1, 5), QStringLiteral("192.168.1.20"));
}

TEST_F(MainWindowTest, SetIpReportsOneBadFieldPerClickInOrder)
{
    AddDevice(kMacA, 20);
    Form1->RefreshPeList();
    SelectRow(0);
    host.steps.push_back([](QDialog* dialog) {
        const struct {
            const char* ip;
            const char* mask;
            const char* gateway;
        } attempts[] = {
            {"192.168.1.300", "255.255.255.255", "1.2.3"},
            {"192.168.1.30", "255.255.255.255", "1.2.3"},
            {"192.168.1.30", "255.255.255.0", "1.2.3"},
        };
        for (const auto& attempt : attempts) {
            SetIpForm->IpEdit->setText(QString::fromLatin1(attempt.ip));
            SetIpForm->MaskEdit->setText(QString::fromLatin1(attempt.mask));
            SetIpForm->GatewayEdit->setText(QString::fromLatin1(attempt.gateway));
            SetIpForm->OkButton->click();
            EXPECT_NE(dialog->result(), QDialog::Accepted);
            EXPECT_EQ(SetIpForm->IpEdit->text(), QString::fromLatin1(attempt.ip));
            EXPECT_EQ(SetIpForm->GatewayEdit->text(), QString::fromLatin1(attempt.gateway));
        }
        SetIpForm->GatewayEdit->setText(QStringLiteral("0.0.0.0"));
        SetIpForm->OkButton->click();
    });
    Form1->peButton_SetIp->click();
    const char* const messages[] = {"IP地址格式错误", "子网掩码格式错误", "网关格式错误"};
    ASSERT_EQ(host.boxes.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(host.boxes[i].owner, SetIpForm);
        EXPECT_EQ(host.boxes[i].text, QString::fromUtf8(messages[i]));
        EXPECT_EQ(host.boxes[i].caption, QString::fromUtf8("提示"));
        EXPECT_EQ(host.boxes[i].icon, UiIcon::Error);
        EXPECT_EQ(host.boxes[i].buttons, UiButtons::Ok);
    }
    ExpectCommand(Device().Receive(), kPeCommandSetIp, kMacA, {192, 168, 1, 30, 255, 255, 255, 0, 0, 0, 0, 0});
}

TEST_F(MainWindowTest, CancelledSetIpSendsNothingAndReopensWithTableValues)
{
    AddDevice(kMacA, 20);
    Form1->RefreshPeList();
    SelectRow(0);
    QString reopened;
    host.steps.push_back([](QDialog*) {
        SetIpForm->IpEdit->setText(QStringLiteral("10.9.9.9"));
        SetIpForm->CancelButton->click();
    });
    host.steps.push_back([&](QDialog*) { reopened = SetIpForm->IpEdit->text(); });
    Form1->peButton_SetIp->click();
    Form1->peMenu_SetIp->trigger();
    EXPECT_EQ(host.shown.size(), 2u);
    EXPECT_EQ(reopened, QStringLiteral("192.168.1.20"));
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(Device().Receive(100).empty());
}

TEST_F(MainWindowTest, SetIpGoesToTheShownDeviceAfterAResort)
{
    AddDevice(kMacA, 20, "A");
    Form1->RefreshPeList();
    SelectRow(0);
    host.steps.push_back([](QDialog*) {
        // A reply during the dialog sorts a new device into row 0.
        AddDevice(kMacB, 5, "B");
        Form1->RefreshPeList();
        SetIpForm->OkButton->click();
    });
    Form1->peButton_SetIp->click();
    EXPECT_EQ(Cell(0, 0), QStringLiteral("B"));
    ExpectCommand(Device().Receive(), kPeCommandSetIp, kMacA, {192, 168, 1, 20, 255, 255, 255, 0, 192, 168, 1, 1});
}

struct QuestionCase {
    QPushButton* TForm1::*button;
    const char* question;
    std::uint8_t command;
};

TEST_F(MainWindowTest, RestartAndShutdownAskFirst)
{
    const QuestionCase cases[] = {
        {&TForm1::peButton_Restart, "您真的要重启设备吗?      ", kPeCommandRestart},
        {&TForm1::peButton_Shutdown, "您真的要关闭设备吗?      ", kPeCommandShutdown},
    };
    AddThreeDevices();
    SelectRow(2); // device B
    for (const auto& c : cases) {
        host.boxes.clear();
        host.answers = {kModalCancel, kModalOk};
        (Form1->*c.button)->click();
        EXPECT_TRUE(Device().Receive(100).empty());
        (Form1->*c.button)->click();
        ExpectCommand(Device().Receive(), c.command, kMacB, {});
        ASSERT_EQ(host.boxes.size(), 2u);
        for (const auto& box : host.boxes) {
            EXPECT_EQ(box.owner, Form1);
            EXPECT_EQ(box.text, QString::fromUtf8(c.question));
            EXPECT_EQ(box.caption, QString::fromUtf8("询问 MAC=001A6B38D166"));
            EXPECT_EQ(box.icon, UiIcon::Question);
            EXPECT_EQ(box.buttons, UiButtons::OkCancel);
        }
    }
    EXPECT_TRUE(host.shown.empty());
}

// Types text into the password dialog and presses OK.
std::function<void(QDialog*)> EnterPassword(const char* text)
{
    return [text](QDialog*) {
        EXPECT_TRUE(PasswordForm->PasswordEdit->text().isEmpty());
        PasswordForm->PasswordEdit->setText(QString::fromUtf8(text));
        PasswordForm->OkButton->click();
    };
}

TEST_F(MainWindowTest, SetMacAsksPasswordThenSendsTheNewMac)
{
    AddThreeDevices();
    SelectRow(1); // device A
    PasswordForm->PasswordEdit->setText(QStringLiteral("left over"));
    host.steps.push_back(EnterPassword("MarbleFox"));
    host.steps.push_back([](QDialog*) {
        EXPECT_EQ(SetMacForm->MacText(), QStringLiteral("001A6B38D155"));
        EXPECT_EQ(SetMacForm->MacEdit->displayText(), QStringLiteral("00 1A 6B 38 D1 55"));
        SetMacForm->SetMacText(QStringLiteral("001a6b38d1ff"));
        SetMacForm->OkButton->click();
    });
    Form1->peButton_SetMac->click();
    ASSERT_EQ(host.shown, (std::vector<QDialog*>{PasswordForm, SetMacForm}));
    EXPECT_EQ(host.captions[0], QString::fromUtf8("密码验证"));
    EXPECT_EQ(host.captions[1], QString::fromUtf8("MAC属性 MAC=001A6B38D155"));
    EXPECT_TRUE(host.boxes.empty());
    ExpectCommand(Device().Receive(), kPeCommandSetMac, kMacA, {0x00, 0x1A, 0x6B, 0x38, 0xD1, 0xFF});
}

TEST_F(MainWindowTest, SetMacStopsSilentlyOnAWrongPasswordOrCancel)
{
    AddDevice(kMacA, 20);
    Form1->RefreshPeList();
    SelectRow(0);
    for (const char* password : {"", "marblefox", "MARBLEFOX", "MarbleFo", "MarbleFoxx", "MarbleFox ", "Marble"}) {
        host.shown.clear();
        host.steps.push_back(EnterPassword(password));
        Form1->peButton_SetMac->click();
        EXPECT_EQ(host.shown, (std::vector<QDialog*>{PasswordForm})) << password;
    }
    host.shown.clear();
    host.steps.push_back([](QDialog*) {
        PasswordForm->PasswordEdit->setText(QStringLiteral("MarbleFox"));
        PasswordForm->CancelButton->click();
    });
    Form1->peMenu_SetMac->trigger();
    EXPECT_EQ(host.shown, (std::vector<QDialog*>{PasswordForm}));
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(Device().Receive(100).empty());
}

TEST_F(MainWindowTest, SetMacAsksThePasswordEvenWithoutASelection)
{
    AddDevice(kMacA, 20);
    Form1->RefreshPeList();
    host.steps.push_back(EnterPassword("MarbleFox"));
    Form1->peButton_SetMac->click();
    EXPECT_EQ(host.shown, (std::vector<QDialog*>{PasswordForm}));
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(Device().Receive(100).empty());
}

TEST_F(MainWindowTest, SetMacDialogRejectsAnythingButTwelveDigits)
{
    AddDevice(kMacA, 20);
    Form1->RefreshPeList();
    SelectRow(0);
    host.steps.push_back(EnterPassword("MarbleFox"));
    host.steps.push_back([](QDialog* dialog) {
        for (const char* text : {"001A6B", "001A6B38D1G5", ""}) {
            SetMacForm->SetMacText(QString::fromLatin1(text));
            SetMacForm->OkButton->click();
            EXPECT_NE(dialog->result(), QDialog::Accepted) << text;
        }
        SetMacForm->CancelButton->click();
    });
    Form1->peButton_SetMac->click();
    ASSERT_EQ(host.boxes.size(), 3u);
    for (const auto& box : host.boxes) {
        EXPECT_EQ(box.owner, SetMacForm);
        EXPECT_EQ(box.text, QString::fromUtf8("MAC填写有误。"));
        EXPECT_EQ(box.caption, QString::fromUtf8("提示"));
        EXPECT_EQ(box.icon, UiIcon::Error);
        EXPECT_EQ(box.buttons, UiButtons::Ok);
    }
    EXPECT_TRUE(Device().Receive(100).empty());
}

TEST_F(MainWindowTest, DialogsHaveTheirFixedLayout)
{
    EXPECT_EQ(SetIpForm->size(), QSize(252, 206));
    EXPECT_EQ(SetMacForm->size(), QSize(262, 215));
    EXPECT_EQ(PasswordForm->size(), QSize(274, 141));
    EXPECT_EQ(PasswordForm->windowTitle(), QString::fromUtf8("密码验证"));
    EXPECT_EQ(PasswordForm->PasswordEdit->echoMode(), QLineEdit::Password);
    PasswordForm->PasswordEdit->setText(QStringLiteral("ab"));
    EXPECT_EQ(PasswordForm->PasswordEdit->displayText(), QStringLiteral("XX"));
    EXPECT_EQ(SetIpForm->IpEdit->geometry(), QRect(96, 32, 121, 24));
    EXPECT_EQ(SetMacForm->MacEdit->geometry(), QRect(32, 56, 201, 32));
    EXPECT_EQ(SetMacForm->MacEdit->maxLength(), 17);
    for (QPushButton* button : {SetIpForm->OkButton, SetIpForm->CancelButton, SetMacForm->OkButton,
                                SetMacForm->CancelButton, PasswordForm->OkButton, PasswordForm->CancelButton}) {
        EXPECT_EQ(button->size(), QSize(75, 25));
        EXPECT_FALSE(button->isDefault());
        EXPECT_FALSE(button->autoDefault());
    }
    EXPECT_EQ(NextTabStop(SetIpForm->OkButton), SetIpForm->CancelButton);
    EXPECT_EQ(NextTabStop(SetIpForm->CancelButton), SetIpForm->IpEdit);
    EXPECT_EQ(NextTabStop(SetIpForm->IpEdit), SetIpForm->MaskEdit);
    EXPECT_EQ(NextTabStop(SetIpForm->MaskEdit), SetIpForm->GatewayEdit);
    EXPECT_EQ(NextTabStop(PasswordForm->PasswordEdit), PasswordForm->OkButton);
    EXPECT_EQ(NextTabStop(PasswordForm->OkButton), PasswordForm->CancelButton);
}

// Runs its action for every event it receives, as a handler would.
class EventTarget : public QObject {
public:
    explicit EventTarget(std::function<void()> action) : action(std::move(action)) {}
    bool event(QEvent*) override
    {
        action();
        return true;
    }
    std::function<void()> action;
};

TEST(ApplicationTest, AnExceptionFromAHandlerIsShownAndEventsGoOn)
{
    FakeHost host;
    IUiHost* previous = SetUiHost(&host);
    const std::function<void()> raises[] = {
        [] { throw XBoundException("XArray out of bound"); },
        [] { throw std::runtime_error("bad state"); },
        [] { throw 42; },
    };
    int delivered = 0;
    EventTarget after([&] { ++delivered; });
    std::vector<EventTarget*> throwers;
    for (const auto& raise : raises) {
        throwers.push_back(new EventTarget(raise));
        QCoreApplication::postEvent(throwers.back(), new QEvent(QEvent::User));
        QCoreApplication::postEvent(&after, new QEvent(QEvent::User));
    }
    QCoreApplication::sendPostedEvents();
    for (EventTarget* thrower : throwers)
        delete thrower;
    SetUiHost(previous);

    EXPECT_EQ(delivered, 3);
    const char* const texts[] = {"XArray out of bound", "bad state", ""};
    ASSERT_EQ(host.boxes.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(host.boxes[i].owner, nullptr);
        EXPECT_EQ(host.boxes[i].text, QString::fromLatin1(texts[i]));
        EXPECT_EQ(host.boxes[i].caption, QStringLiteral("Netvane"));
        EXPECT_EQ(host.boxes[i].icon, UiIcon::Error);
        EXPECT_EQ(host.boxes[i].buttons, UiButtons::Ok);
    }
}

} // namespace
