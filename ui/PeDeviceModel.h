#pragma once

#include "DeviceListModel.h"

struct tagDevice;

// The PE device list over g_peDevices: row i shows record i. Rows come only
// from Refresh, which appends until the row count reaches the table's size
// and never drops rows; Clear removes them all.
class PeDeviceModel : public DeviceListModel {
    Q_OBJECT
public:
    static constexpr int kColumnCount = 9;
    static constexpr int kIpColumn = 5;

    explicit PeDeviceModel(QObject* parent = nullptr);

    // Appends rows up to g_peDevices' size, then marks every row of the table
    // as changed so the view repaints it from the records.
    void Refresh();

    // The text of one cell of record device, as the list shows it.
    static QString CellText(const tagDevice* device, int column);

protected:
    int TableSize() const override;
    QString CellAt(int row, int column) const override;
};
