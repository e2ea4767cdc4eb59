#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QVector>

struct tagDevice;

// The PE device list as a table model over g_peDevices: row i shows record i.
// Rows come only from Refresh, which appends until the row count reaches the
// table's size and never drops rows; Clear removes them all. Each row carries
// a check mark (kept by row index, read by nobody but the view).
class PeDeviceModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumnCount = 9;
    static constexpr int kIpColumn = 5;

    explicit PeDeviceModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Appends rows up to g_peDevices' size, then marks every row of the table
    // as changed so the view repaints it from the records.
    void Refresh();
    // Removes every row and its check mark.
    void Clear();
    // Header image of column: -1 none, 0 the up marker, 1 the down marker.
    void SetHeaderImage(int column, int image);
    int HeaderImage(int column) const;

    // The text of one cell of record device, as the list shows it.
    static QString CellText(const tagDevice* device, int column);
    // Header captions and widths of the nine columns.
    static QString HeaderText(int column);
    static int ColumnWidth(int column);

private:
    int rows = 0;
    QVector<Qt::CheckState> checks;
    int headerImages[kColumnCount];
    QIcon markers[2];
};
