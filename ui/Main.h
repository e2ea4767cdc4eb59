#pragma once

#include <QString>
#include <QWidget>

class OnvifDeviceModel;
class PeDeviceModel;
class QAction;
class QApplication;
class QMenu;
class QPushButton;
class QTabWidget;
class QTableView;
class QTimer;
struct tagDevice;

// The main window: the PE tab (search, clear, device list, actions) and the
// ONVIF tab (search, clear, device list, web page). The window keeps no
// device data: each list shows its device table row for row.
class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Builds the window, puts the version text after the caption and opens
    // the PE endpoint. The application title must be set before.
    explicit TForm1(QWidget* parent = nullptr);

    // The text shown after the caption, " V%d.%02d.%04d" of the version.
    const QString& VersionText() const { return versionText; }
    // Index of the selected PE row, -1 when none.
    int SelectedPeRow() const;
    // Index of the selected ONVIF row, -1 when none.
    int SelectedOnvifRow() const;

    QTabWidget* PageControl1;
    QWidget* peTabSheet;
    QWidget* pePanel_Top;
    QWidget* pePanel_TopL;
    QPushButton* peButton_FindDevice;
    QPushButton* peButton_ClearTable;
    QTableView* peListView;
    PeDeviceModel* peModel;
    QWidget* pePanel_Bottom;
    QWidget* pePanel_BottomR;
    QPushButton* peButton_Web;
    QPushButton* peButton_SetIp;
    QPushButton* peButton_Restart;
    QPushButton* peButton_Shutdown;
    QPushButton* peButton_SetMac;
    QMenu* peMenu;
    QAction* peMenu_Web;
    QAction* peMenu_SetIp;
    QAction* peMenu_Restart;
    QAction* peMenu_Shutdown;
    QAction* peMenu_SetMac;
    QTimer* peTimer;

    QWidget* onvifTabSheet;
    QWidget* onvifPanel_Top;
    QWidget* onvifPanel_TopL;
    QPushButton* onvifButton_FindDevice;
    QPushButton* onvifButton_ClearTable;
    QTableView* onvifListView;
    OnvifDeviceModel* onvifModel;
    QWidget* onvifPanel_Bottom;
    QWidget* onvifPanel_BottomR;
    QPushButton* onvifButton_Web;
    QMenu* onvifMenu;
    QAction* onvifMenu_Web;
    QTimer* onvifTimer;

public Q_SLOTS:
    // Brings the PE list in line with g_peDevices (rows appended, never dropped).
    void RefreshPeList();

    void peButton_FindDeviceClick();
    void peButton_ClearTableClick();
    void peTimerTimer();
    void peListViewColumnClick(int column);
    void peButton_WebClick();
    void peButton_SetIpClick();
    void peButton_RestartClick();
    void peButton_ShutdownClick();
    void peButton_SetMacClick();
    void peMenu_WebClick();
    void peMenu_SetIpClick();
    void peMenu_RestartClick();
    void peMenu_ShutdownClick();
    void peMenu_SetMacClick();

    // Brings the ONVIF list in line with g_onvifDevices (rebuilt when the
    // table has grown).
    void RefreshOnvifList();

    void onvifButton_FindDeviceClick();
    void onvifButton_ClearTableClick();
    void onvifTimerTimer();
    void onvifListViewColumnClick(int column);
    void onvifButton_WebClick();
    void onvifMenu_WebClick();

private:
    void BuildPeTab();
    void BuildOnvifTab();
    // The record of the selected PE row, or null when no row is selected or
    // the row lies beyond the table.
    tagDevice* SelectedPeDevice() const;
    // Asks question about device's restart or shut-down; true for OK.
    bool ConfirmPeCommand(const tagDevice* device, const char* question);

    QString versionText;
};

// Sets the tool's style, font and colours on app; call before any window is built.
void ApplyNetvaneLook(QApplication& app);

// The main window, created first at start-up.
extern TForm1* Form1;

// The fixed password that guards the MAC change.
extern const char kSetMacPassword[];
