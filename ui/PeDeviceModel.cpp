#include "PeDeviceModel.h"

#include "PeDevices.h"
#include "XString.h"

#include <cstring>

namespace {

const DeviceListModel::ColumnSpec kColumns[PeDeviceModel::kColumnCount] = {
    {"设备名称", 160}, {"设备型号", 117}, {"设备版本", 117}, {"设备序列号", 160}, {"协议", 80},
    {"IP地址", 117},   {"子网掩码", 117}, {"网关", 117},     {"MAC地址", 117},
};

// A 32-byte device text: up to its first zero byte, or all 32 bytes. The bytes
// are shown as the device sent them, read as local narrow text.
QString FieldText(const char* field)
{
    const void* end = std::memchr(field, 0, 32);
    const int length = end ? int(static_cast<const char*>(end) - field) : 32;
    return QString::fromLocal8Bit(field, length);
}

QString AddressText(const std::uint8_t* address)
{
    XString text;
    text.Format("%d.%d.%d.%d", address[0], address[1], address[2], address[3]);
    return QString::fromLatin1(text.GetText());
}

} // namespace

PeDeviceModel::PeDeviceModel(QObject* parent) : DeviceListModel(kColumns, kColumnCount, kIpColumn, parent) {}

int PeDeviceModel::TableSize() const
{
    return g_peDevices.GetSize();
}

QString PeDeviceModel::CellAt(int row, int column) const
{
    return CellText(g_peDevices[row], column);
}

QString PeDeviceModel::CellText(const tagDevice* device, int column)
{
    switch (column) {
    case 0:
        return FieldText(device->name);
    case 1:
        return FieldText(device->model);
    case 2:
        return FieldText(device->version);
    case 3:
        return FieldText(device->serial);
    case 4:
        return QStringLiteral("Velanor");
    case 5:
        return AddressText(device->ip);
    case 6:
        return AddressText(device->mask);
    case 7:
        return AddressText(device->gateway);
    case 8: {
        XString text;
        const std::uint8_t* m = device->mac;
        text.Format("%02X%02X%02X%02X%02X%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
        return QString::fromLatin1(text.GetText());
    }
    default:
        return QString();
    }
}

void PeDeviceModel::Refresh()
{
    const int size = g_peDevices.GetSize();
    AppendRowsUpTo(size);
    RepaintRows(size);
}
