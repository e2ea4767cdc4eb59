#pragma once

#include "DeviceListModel.h"

class COnvifDevice;

// The ONVIF device list over g_onvifDevices: row i shows record i. Refresh
// rebuilds the rows from scratch whenever the table has grown (check marks
// and the view's selection go with them) and otherwise only repaints them;
// Clear removes them all.
class OnvifDeviceModel : public DeviceListModel {
    Q_OBJECT
public:
    static constexpr int kColumnCount = 5;
    static constexpr int kIpColumn = 2;

    explicit OnvifDeviceModel(QObject* parent = nullptr);

    // Brings the rows in line with g_onvifDevices: when the table has more
    // records than there are rows, every row is made anew; then every row of
    // the table is repainted from its record.
    void Refresh();

    // The text of one cell of record device, as the list shows it.
    static QString CellText(const COnvifDevice* device, int column);

protected:
    int TableSize() const override;
    QString CellAt(int row, int column) const override;
};
