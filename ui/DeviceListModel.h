#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QVector>

// What both device lists share: a table model whose row i shows record i of
// a device table that the derived class reads, one check mark per row (kept
// by row index, read by nobody but the view), and sort marker images on the
// header. The rows are the model's own count, changed only through the
// protected steps below, so the list can lag behind or match the table
// exactly as its refresh rules say.
class DeviceListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // One column of a list: its header caption (UTF-8) and width in pixels.
    struct ColumnSpec {
        const char* header;
        int width;
    };

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Removes every row and its check mark.
    void Clear();
    // Header image of column: -1 none, 0 the up marker, 1 the down marker.
    void SetHeaderImage(int column, int image);
    int HeaderImage(int column) const;
    // The column's width as laid out, 0 for no such column.
    int ColumnWidth(int column) const;

protected:
    // specs: count columns, kept by the caller for the model's lifetime;
    // markedColumn starts with image 0.
    DeviceListModel(const ColumnSpec* specs, int count, int markedColumn, QObject* parent);

    // Records in the table shown.
    virtual int TableSize() const = 0;
    // Text of one cell; row is below TableSize().
    virtual QString CellAt(int row, int column) const = 0;

    // Appends unchecked rows until there are size of them.
    void AppendRowsUpTo(int size);
    // Drops every row, then makes size unchecked rows.
    void Rebuild(int size);
    // Tells the view that the first size rows changed.
    void RepaintRows(int size);

private:
    const ColumnSpec* specs;
    int columns;
    int rows = 0;
    QVector<Qt::CheckState> checks;
    QVector<int> headerImages;
    QIcon markers[2];
};
