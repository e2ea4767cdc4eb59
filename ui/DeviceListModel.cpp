#include "DeviceListModel.h"

// The images live in this static library, whose resource registration the
// linker would drop unless something calls it.
static void InitUiResources()
{
    Q_INIT_RESOURCE(resources);
}

DeviceListModel::DeviceListModel(const ColumnSpec* columnSpecs, int count, int markedColumn, QObject* parent)
    : QAbstractTableModel(parent), specs(columnSpecs), columns(count), headerImages(count, -1)
{
    InitUiResources();
    headerImages[markedColumn] = 0;
    markers[0] = QIcon(QStringLiteral(":/images/sort-up.png"));
    markers[1] = QIcon(QStringLiteral(":/images/sort-down.png"));
}

int DeviceListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows;
}

int DeviceListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columns;
}

QVariant DeviceListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows)
        return QVariant();
    if (role == Qt::CheckStateRole && index.column() == 0)
        return checks.value(index.row(), Qt::Unchecked);
    if (role != Qt::DisplayRole)
        return QVariant();
    // A row past the table (only possible if the table shrank behind the
    // list's back) shows nothing rather than reading a missing record.
    if (index.row() >= TableSize())
        return QString();
    return CellAt(index.row(), index.column());
}

bool DeviceListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.row() >= rows || index.column() != 0 || role != Qt::CheckStateRole)
        return false;
    checks[index.row()] = static_cast<Qt::CheckState>(value.toInt()) == Qt::Checked ? Qt::Checked : Qt::Unchecked;
    Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags DeviceListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0)
        result |= Qt::ItemIsUserCheckable;
    return result;
}

QVariant DeviceListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columns)
        return QVariant();
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(specs[section].header);
    if (role == Qt::DecorationRole && headerImages[section] >= 0)
        return markers[headerImages[section]];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return QVariant();
}

void DeviceListModel::Clear()
{
    Rebuild(0);
}

void DeviceListModel::SetHeaderImage(int column, int image)
{
    if (column < 0 || column >= columns)
        return;
    headerImages[column] = image;
    Q_EMIT headerDataChanged(Qt::Horizontal, column, column);
}

int DeviceListModel::HeaderImage(int column) const
{
    return column >= 0 && column < columns ? headerImages[column] : -1;
}

int DeviceListModel::ColumnWidth(int column) const
{
    return column >= 0 && column < columns ? specs[column].width : 0;
}

void DeviceListModel::AppendRowsUpTo(int size)
{
    if (size <= rows)
        return;
    beginInsertRows(QModelIndex(), rows, size - 1);
    rows = size;
    checks.resize(rows);
    endInsertRows();
}

void DeviceListModel::Rebuild(int size)
{
    beginResetModel();
    rows = size;
    checks.fill(Qt::Unchecked, size);
    endResetModel();
}

void DeviceListModel::RepaintRows(int size)
{
    if (size > 0)
        Q_EMIT dataChanged(index(0, 0), index(size - 1, columns - 1), {Qt::DisplayRole});
}
