#pragma once

#include <QAbstractTableModel>

#include <functional>

namespace lanyard {

// The table of shared folders as Qt sees it. The rows and cell texts come from the owner (the main
// window's controller), which answers them by column identifier: "checked", "name", "path". Cells
// cannot be edited.
class ShareListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using RowCount = std::function<int()>;
    using CellValue = std::function<QString(const QString& column, int row)>;

    // The role under which the header answers a column's identifier.
    static constexpr int kIdentifierRole = Qt::UserRole + 1;
    static const QStringList& columnIdentifiers();

    ShareListModel(RowCount rowCount, CellValue cellValue, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Everything may have changed (rows included).
    void reloadData();
    // Only the cell texts may have changed.
    void refreshValues();

private:
    RowCount _rowCount;
    CellValue _cellValue;
};

} // namespace lanyard
