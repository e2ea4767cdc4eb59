#include "Main.h"

#include "FileVersion.h"
#include "OnvifDeviceModel.h"
#include "OnvifSearch.h"
#include "Passwordformimp.h"
#include "PeClient.h"
#include "PeCommands.h"
#include "PeDeviceModel.h"
#include "PeDevices.h"
#include "Setipformimp.h"
#include "Setmacformimp.h"
#include "UiHost.h"
#include "XString.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QStyleFactory>
#include <QTimer>
#include <QVBoxLayout>

#include <arpa/inet.h>

#include <cstring>

TForm1* Form1 = nullptr;

const char kSetMacPassword[] = "MarbleFox";

namespace {

constexpr int kBarHeight = 44;
// Longest executable path that is read; a longer one is cut and then counts
// as unreadable.
constexpr int kMaxModulePath = 254;

QPushButton* MakeButton(QWidget* parent, const char* text, int x)
{
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setGeometry(x, 8, 75, 25);
    return button;
}

// A bar of kBarHeight along the top or bottom of a page, holding one part of
// partWidth pixels at its left or right end; the buttons sit on that part.
QWidget* MakeBar(QWidget* page, const char* name, QWidget*& part, const char* partName, int partWidth, bool right)
{
    auto* bar = new QWidget(page);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setFixedHeight(kBarHeight);
    part = new QWidget(bar);
    part->setObjectName(QString::fromLatin1(partName));
    part->setFixedSize(partWidth, kBarHeight);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (right)
        layout->addStretch(1);
    layout->addWidget(part);
    if (!right)
        layout->addStretch(1);
    return bar;
}

// Report-style list settings shared by both tabs.
void SetUpListView(QTableView* view)
{
    view->setShowGrid(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(20);
    view->horizontalHeader()->setSectionsClickable(true);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setStretchLastSection(false);
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view->setIconSize(QSize(24, 24));
}

QWidget* MakePage(QWidget* top, QWidget* list, QWidget* bottom)
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    top->setParent(page);
    list->setParent(page);
    bottom->setParent(page);
    layout->addWidget(top);
    layout->addWidget(list, 1);
    layout->addWidget(bottom);
    return page;
}

// The four octets of an address text as inet_addr reads them, in memory order.
void AddressBytes(const QLineEdit* edit, std::uint8_t bytes[4])
{
    const in_addr_t address = inet_addr(edit->text().toLocal8Bit().constData());
    std::memcpy(bytes, &address, 4);
}

} // namespace

// Flat look: Fusion with a light palette. The font is Arial 12 px, with
// Liberation Sans where Arial is missing and a CJK face for the Chinese texts.
static const char kStyleSheet[] = R"(
QPushButton { background: #f4f6f9; border: 1px solid #c3c9d2; border-radius: 2px; }
QPushButton:hover { background: #e6eefb; border-color: #4a90e2; }
QPushButton:pressed { background: #d2e1f7; }
QPushButton:focus { border-color: #2f7ad9; }
QTableView { background: white; color: black; gridline-color: #dde1e6; border: 1px solid #d0d5dc;
             selection-background-color: #cfe3fb; selection-color: black; }
QTableView::item:selected:!active { background: #cfe3fb; color: black; }
QHeaderView::section { background: #f4f6f9; border: none; border-right: 1px solid #d0d5dc;
                       border-bottom: 1px solid #d0d5dc; padding: 2px 4px; }
QTabBar::tab { padding: 5px 44px; border: 1px solid #c3c9d2; border-top: none; background: #eef1f5; }
QTabBar::tab:selected { background: white; color: #1f6fd1; }
)";

void ApplyNetvaneLook(QApplication& app)
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(12);
    QApplication::setFont(font);
    app.setStyleSheet(QString::fromUtf8(kStyleSheet));
}

TForm1::TForm1(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    resize(890, 580);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setTabPosition(QTabWidget::South);
    PageControl1->setDocumentMode(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(PageControl1);

    BuildPeTab();
    BuildOnvifTab();

    // Both timers run from creation to exit; their first ticks come once the
    // event loop runs.
    peTimer = new QTimer(this);
    peTimer->setInterval(100);
    connect(peTimer, &QTimer::timeout, this, &TForm1::peTimerTimer);
    peTimer->start();
    onvifTimer = new QTimer(this);
    onvifTimer->setInterval(100);
    connect(onvifTimer, &QTimer::timeout, this, &TForm1::onvifTimerTimer);
    onvifTimer->start();

    setWindowTitle(QCoreApplication::applicationName());
    PageControl1->setCurrentIndex(0);

    QByteArray path = QCoreApplication::applicationFilePath().toLocal8Bit();
    if (path.size() > kMaxModulePath)
        path.truncate(kMaxModulePath);
    std::uint16_t version[4] = {0, 0, 0, 0};
    ReadFileVersion(path.constData(), version);
    XString text;
    text.Format(" V%d.%02d.%04d", version[0], version[1], version[2]);
    versionText = QString::fromLatin1(text.GetText());
    // Qt has no second title text, so the version follows the caption.
    setWindowTitle(windowTitle() + versionText);

    OpenPeSocket();
}

void TForm1::BuildPeTab()
{
    pePanel_Top = MakeBar(this, "pePanel_Top", pePanel_TopL, "pePanel_TopL", 217, false);
    peButton_FindDevice = MakeButton(pePanel_TopL, "搜索", 16);
    peButton_ClearTable = MakeButton(pePanel_TopL, "清空列表", 96);

    peListView = new QTableView;
    peListView->setObjectName(QStringLiteral("peListView"));
    peModel = new PeDeviceModel(this);
    peListView->setModel(peModel);
    SetUpListView(peListView);
    for (int column = 0; column < PeDeviceModel::kColumnCount; ++column)
        peListView->setColumnWidth(column, peModel->ColumnWidth(column));

    pePanel_Bottom = MakeBar(this, "pePanel_Bottom", pePanel_BottomR, "pePanel_BottomR", 442, true);
    peButton_Web = MakeButton(pePanel_BottomR, "Web", 16);
    peButton_SetIp = MakeButton(pePanel_BottomR, "IP设置", 96);
    peButton_Restart = MakeButton(pePanel_BottomR, "重启", 176);
    peButton_Shutdown = MakeButton(pePanel_BottomR, "关机", 256);
    peButton_SetMac = MakeButton(pePanel_BottomR, "MAC设置", 336);
    setTabOrder(peButton_SetIp, peButton_Restart);
    setTabOrder(peButton_Restart, peButton_SetMac);
    setTabOrder(peButton_SetMac, peButton_Web);
    setTabOrder(peButton_Web, peButton_Shutdown);

    peTabSheet = MakePage(pePanel_Top, peListView, pePanel_Bottom);
    peTabSheet->setObjectName(QStringLiteral("peTabSheet"));
    PageControl1->addTab(peTabSheet, QStringLiteral("Velanor"));

    peMenu = new QMenu(this);
    peMenu_Web = peMenu->addAction(QStringLiteral("Web"));
    peMenu_SetIp = peMenu->addAction(QString::fromUtf8("IP设置"));
    peMenu_Restart = peMenu->addAction(QString::fromUtf8("重启"));
    peMenu_Shutdown = peMenu->addAction(QString::fromUtf8("关机"));
    peMenu_SetMac = peMenu->addAction(QString::fromUtf8("MAC设置"));

    connect(peButton_FindDevice, &QPushButton::clicked, this, &TForm1::peButton_FindDeviceClick);
    connect(peButton_ClearTable, &QPushButton::clicked, this, &TForm1::peButton_ClearTableClick);
    connect(peButton_Web, &QPushButton::clicked, this, &TForm1::peButton_WebClick);
    connect(peButton_SetIp, &QPushButton::clicked, this, &TForm1::peButton_SetIpClick);
    connect(peButton_Restart, &QPushButton::clicked, this, &TForm1::peButton_RestartClick);
    connect(peButton_Shutdown, &QPushButton::clicked, this, &TForm1::peButton_ShutdownClick);
    connect(peButton_SetMac, &QPushButton::clicked, this, &TForm1::peButton_SetMacClick);
    connect(peMenu_Web, &QAction::triggered, this, &TForm1::peMenu_WebClick);
    connect(peMenu_SetIp, &QAction::triggered, this, &TForm1::peMenu_SetIpClick);
    connect(peMenu_Restart, &QAction::triggered, this, &TForm1::peMenu_RestartClick);
    connect(peMenu_Shutdown, &QAction::triggered, this, &TForm1::peMenu_ShutdownClick);
    connect(peMenu_SetMac, &QAction::triggered, this, &TForm1::peMenu_SetMacClick);
    connect(peListView->horizontalHeader(), &QHeaderView::sectionClicked, this, &TForm1::peListViewColumnClick);
    connect(peListView, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { peMenu->popup(peListView->viewport()->mapToGlobal(at)); });
}

void TForm1::BuildOnvifTab()
{
    onvifPanel_Top = MakeBar(this, "onvifPanel_Top", onvifPanel_TopL, "onvifPanel_TopL", 217, false);
    onvifButton_FindDevice = MakeButton(onvifPanel_TopL, "搜索", 16);
    onvifButton_ClearTable = MakeButton(onvifPanel_TopL, "清空列表", 96);

    onvifListView = new QTableView;
    onvifListView->setObjectName(QStringLiteral("onvifListView"));
    onvifModel = new OnvifDeviceModel(this);
    onvifListView->setModel(onvifModel);
    SetUpListView(onvifListView);
    for (int column = 0; column < OnvifDeviceModel::kColumnCount; ++column)
        onvifListView->setColumnWidth(column, onvifModel->ColumnWidth(column));

    onvifPanel_Bottom = MakeBar(this, "onvifPanel_Bottom", onvifPanel_BottomR, "onvifPanel_BottomR", 122, true);
    onvifButton_Web = MakeButton(onvifPanel_BottomR, "Web", 16);

    onvifTabSheet = MakePage(onvifPanel_Top, onvifListView, onvifPanel_Bottom);
    onvifTabSheet->setObjectName(QStringLiteral("onvifTabSheet"));
    PageControl1->addTab(onvifTabSheet, QStringLiteral("ONVIF"));

    onvifMenu = new QMenu(this);
    onvifMenu_Web = onvifMenu->addAction(QStringLiteral("Web"));

    connect(onvifButton_FindDevice, &QPushButton::clicked, this, &TForm1::onvifButton_FindDeviceClick);
    connect(onvifButton_ClearTable, &QPushButton::clicked, this, &TForm1::onvifButton_ClearTableClick);
    connect(onvifButton_Web, &QPushButton::clicked, this, &TForm1::onvifButton_WebClick);
    connect(onvifMenu_Web, &QAction::triggered, this, &TForm1::onvifMenu_WebClick);
    connect(onvifListView->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &TForm1::onvifListViewColumnClick);
    connect(onvifListView, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { onvifMenu->popup(onvifListView->viewport()->mapToGlobal(at)); });
}

int TForm1::SelectedPeRow() const
{
    const QModelIndexList rows = peListView->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

int TForm1::SelectedOnvifRow() const
{
    const QModelIndexList rows = onvifListView->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

tagDevice* TForm1::SelectedPeDevice() const
{
    const int row = SelectedPeRow();
    if (row < 0 || row >= g_peDevices.GetSize())
        return nullptr;
    return g_peDevices[row];
}

void TForm1::RefreshPeList()
{
    peModel->Refresh();
}

void TForm1::peButton_FindDeviceClick()
{
    SendPeSearch(kPeEveryDevice);
}

void TForm1::peButton_ClearTableClick()
{
    g_peDevices.SetSize(0);
    peModel->Clear();
}

void TForm1::peTimerTimer()
{
    // The window cannot repaint before the poll returns, so one refresh at its
    // end shows exactly what a refresh after every accepted reply would; a
    // burst of thousands of replies then costs one list update, not thousands.
    bool accepted = false;
    PollPeReplies([&accepted] { accepted = true; });
    if (accepted)
        RefreshPeList();
}

void TForm1::peListViewColumnClick(int column)
{
    if (column != PeDeviceModel::kIpColumn)
        return;
    g_peSortOrder = -g_peSortOrder;
    peModel->SetHeaderImage(column, g_peSortOrder > 0 ? 0 : 1);
    SortPeDevices(g_peDevices, g_peSortOrder > 0 ? 1 : -1);
    RefreshPeList();
}

void TForm1::peButton_WebClick()
{
    const tagDevice* device = SelectedPeDevice();
    if (!device)
        return;
    XString url;
    url.Format("http://%d.%d.%d.%d/", device->ip[0], device->ip[1], device->ip[2], device->ip[3]);
    UiHost().OpenUrl(QString::fromLatin1(url.GetText()));
}

void TForm1::peButton_SetIpClick()
{
    // The record, not the row: replies may re-sort the table while the dialog is open.
    const tagDevice* device = SelectedPeDevice();
    if (!device)
        return;
    SetIpForm->setWindowTitle(QString::fromUtf8("IP属性 MAC=") + PeDeviceModel::CellText(device, 8));
    SetIpForm->IpEdit->setText(PeDeviceModel::CellText(device, 5));
    SetIpForm->MaskEdit->setText(PeDeviceModel::CellText(device, 6));
    SetIpForm->GatewayEdit->setText(PeDeviceModel::CellText(device, 7));
    if (UiHost().ExecDialog(SetIpForm) != kModalOk)
        return;
    std::uint8_t ip[4], mask[4], gateway[4];
    AddressBytes(SetIpForm->IpEdit, ip);
    AddressBytes(SetIpForm->MaskEdit, mask);
    AddressBytes(SetIpForm->GatewayEdit, gateway);
    SendPeSetIp(device, ip, mask, gateway);
}

bool TForm1::ConfirmPeCommand(const tagDevice* device, const char* question)
{
    const QString caption = QString::fromUtf8("询问 MAC=") + PeDeviceModel::CellText(device, 8);
    return UiHost().MessageBox(this, QString::fromUtf8(question), caption, UiIcon::Question, UiButtons::OkCancel) ==
           kModalOk;
}

void TForm1::peButton_RestartClick()
{
    const tagDevice* device = SelectedPeDevice();
    if (device && ConfirmPeCommand(device, "您真的要重启设备吗?      "))
        SendPeRestart(device);
}

void TForm1::peButton_ShutdownClick()
{
    const tagDevice* device = SelectedPeDevice();
    if (device && ConfirmPeCommand(device, "您真的要关闭设备吗?      "))
        SendPeShutdown(device);
}

void TForm1::peButton_SetMacClick()
{
    // The password comes first, even with no row selected.
    PasswordForm->PasswordEdit->clear();
    if (UiHost().ExecDialog(PasswordForm) != kModalOk)
        return;
    if (PasswordForm->PasswordEdit->text().toLocal8Bit() != QByteArray(kSetMacPassword))
        return;
    const tagDevice* device = SelectedPeDevice();
    if (!device)
        return;
    const QString mac = PeDeviceModel::CellText(device, 8);
    SetMacForm->setWindowTitle(QString::fromUtf8("MAC属性 MAC=") + mac);
    SetMacForm->SetMacText(mac);
    if (UiHost().ExecDialog(SetMacForm) != kModalOk)
        return;
    SendPeSetMac(device, SetMacForm->NewMac);
}

void TForm1::peMenu_WebClick()
{
    peButton_Web->click();
}

void TForm1::peMenu_SetIpClick()
{
    peButton_SetIp->click();
}

void TForm1::peMenu_RestartClick()
{
    peButton_Restart->click();
}

void TForm1::peMenu_ShutdownClick()
{
    peButton_Shutdown->click();
}

void TForm1::peMenu_SetMacClick()
{
    peButton_SetMac->click();
}

void TForm1::RefreshOnvifList()
{
    onvifModel->Refresh();
}

void TForm1::onvifButton_FindDeviceClick()
{
    StartOnvifSearch();
}

void TForm1::onvifButton_ClearTableClick()
{
    g_onvifDevices.devices.SetSize(0);
    onvifModel->Clear();
}

void TForm1::onvifTimerTimer()
{
    if (MergeOnvifResults() > 0)
        RefreshOnvifList();
}

void TForm1::onvifListViewColumnClick(int column)
{
    // Before the first search there is nothing to order, and the marker stays.
    if (column != OnvifDeviceModel::kIpColumn || !g_discoverThread)
        return;
    g_onvifSortOrder = -g_onvifSortOrder;
    onvifModel->SetHeaderImage(column, g_onvifSortOrder > 0 ? 0 : 1);
    SortOnvifDevices(g_onvifDevices, g_onvifSortOrder > 0 ? 1 : -1);
    RefreshOnvifList();
}

void TForm1::onvifButton_WebClick()
{
    const int row = SelectedOnvifRow();
    if (row < 0 || row >= g_onvifDevices.devices.GetSize())
        return;
    XString url;
    url.Format("http://%s/", g_onvifDevices.devices[row]->ipText.GetText());
    UiHost().OpenUrl(QString::fromUtf8(url.GetText()));
}

void TForm1::onvifMenu_WebClick()
{
    onvifButton_Web->click();
}
