#include "OnvifDeviceModel.h"

#include "OnvifSearch.h"

#include <QStringDecoder>

namespace {

const DeviceListModel::ColumnSpec kColumns[OnvifDeviceModel::kColumnCount] = {
    {"名称", 200}, {"协议", 80}, {"IP地址", 117}, {"UUID", 320}, {"服务地址", 320},
};

// A device's text as received: UTF-8 when it is valid UTF-8 (what XML
// carries), otherwise byte for byte, so that no device text breaks a row.
QString DeviceText(const XString& text)
{
    const QByteArray bytes(text.GetText());
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString decoded = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : decoded;
}

} // namespace

OnvifDeviceModel::OnvifDeviceModel(QObject* parent) : DeviceListModel(kColumns, kColumnCount, kIpColumn, parent) {}

QString OnvifDeviceModel::CellText(const COnvifDevice* device, int column)
{
    switch (column) {
    case 0:
        return DeviceText(device->name);
    case 1:
        return QStringLiteral("ONVIF");
    case 2:
        return DeviceText(device->ipText);
    case 3:
        return DeviceText(device->uuid);
    case 4:
        return DeviceText(device->serviceAddress);
    default:
        return QString();
    }
}

void OnvifDeviceModel::Refresh()
{
    const int size = g_onvifDevices.devices.GetSize();
    // This list is made anew whenever the table has grown, so check marks
    // and the selection do not survive a new device.
    if (rowCount() < size)
        Rebuild(size);
    RepaintRows(size);
}

int OnvifDeviceModel::TableSize() const
{
    return g_onvifDevices.devices.GetSize();
}

QString OnvifDeviceModel::CellAt(int row, int column) const
{
    return CellText(g_onvifDevices.devices[row], column);
}
