#include "PeDeviceModel.h"

#include "PeDevices.h"
#include "XString.h"

#include <cstring>

namespace {

struct Column {
    const char* header;
    int width;
};

const Column kColumns[PeDeviceModel::kColumnCount] = {
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

// The images live in this static library, whose resource registration the
// linker would drop unless something calls it.
static void InitUiResources()
{
    Q_INIT_RESOURCE(resources);
}

PeDeviceModel::PeDeviceModel(QObject* parent) : QAbstractTableModel(parent)
{
    InitUiResources();
    for (int& image : headerImages)
        image = -1;
    headerImages[kIpColumn] = 0;
    markers[0] = QIcon(QStringLiteral(":/images/sort-up.png"));
    markers[1] = QIcon(QStringLiteral(":/images/sort-down.png"));
}

int PeDeviceModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows;
}

int PeDeviceModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
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

QString PeDeviceModel::HeaderText(int column)
{
    return column >= 0 && column < kColumnCount ? QString::fromUtf8(kColumns[column].header) : QString();
}

int PeDeviceModel::ColumnWidth(int column)
{
    return column >= 0 && column < kColumnCount ? kColumns[column].width : 0;
}

QVariant PeDeviceModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows)
        return QVariant();
    if (role == Qt::CheckStateRole && index.column() == 0)
        return checks.value(index.row(), Qt::Unchecked);
    if (role != Qt::DisplayRole)
        return QVariant();
    // A row past the table (only possible if the table shrank behind the
    // list's back) shows nothing rather than reading a missing record.
    if (index.row() >= g_peDevices.GetSize())
        return QString();
    return CellText(g_peDevices[index.row()], index.column());
}

bool PeDeviceModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.row() >= rows || index.column() != 0 || role != Qt::CheckStateRole)
        return false;
    checks[index.row()] = static_cast<Qt::CheckState>(value.toInt()) == Qt::Checked ? Qt::Checked : Qt::Unchecked;
    Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags PeDeviceModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0)
        result |= Qt::ItemIsUserCheckable;
    return result;
}

QVariant PeDeviceModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount)
        return QVariant();
    if (role == Qt::DisplayRole)
        return HeaderText(section);
    if (role == Qt::DecorationRole && headerImages[section] >= 0)
        return markers[headerImages[section]];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return QVariant();
}

void PeDeviceModel::Refresh()
{
    const int size = g_peDevices.GetSize();
    if (size > rows) {
        beginInsertRows(QModelIndex(), rows, size - 1);
        rows = size;
        checks.resize(rows);
        endInsertRows();
    }
    if (size > 0)
        Q_EMIT dataChanged(index(0, 0), index(size - 1, kColumnCount - 1), {Qt::DisplayRole});
}

void PeDeviceModel::Clear()
{
    beginResetModel();
    rows = 0;
    checks.clear();
    endResetModel();
}

void PeDeviceModel::SetHeaderImage(int column, int image)
{
    if (column < 0 || column >= kColumnCount)
        return;
    headerImages[column] = image;
    Q_EMIT headerDataChanged(Qt::Horizontal, column, column);
}

int PeDeviceModel::HeaderImage(int column) const
{
    return column >= 0 && column < kColumnCount ? headerImages[column] : -1;
}
