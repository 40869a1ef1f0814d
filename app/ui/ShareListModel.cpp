#include "ShareListModel.h"

#include "Localized.h"

#include <QFont>
#include <QGuiApplication>

namespace lanyard {

namespace {

// The selection marker is drawn larger than the text beside it.
QFont markerFont() {
    QFont font = QGuiApplication::font();
    // The colour emoji font first: text fonts draw some of the markers as plain outlines.
    font.setFamilies({QStringLiteral("Noto Color Emoji"), font.family()});
    font.setPointSizeF(font.pointSizeF() * 1.2);
    return font;
}

} // namespace

const QStringList& ShareListModel::columnIdentifiers() {
    static const QStringList identifiers{QStringLiteral("checked"), QStringLiteral("name"),
                                         QStringLiteral("path")};
    return identifiers;
}

ShareListModel::ShareListModel(RowCount rowCount, CellValue cellValue, QObject* parent)
    : QAbstractTableModel(parent), _rowCount(std::move(rowCount)), _cellValue(std::move(cellValue)) {}

int ShareListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::max(0, _rowCount());
}

int ShareListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columnIdentifiers().size());
}

QVariant ShareListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() >= columnCount()) {
        return {};
    }
    const QString& column = columnIdentifiers().at(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return _cellValue(column, index.row());
    case Qt::ToolTipRole:
        return column == u"checked" ? QVariant() : QVariant(_cellValue(column, index.row()));
    case Qt::TextAlignmentRole:
        return column == u"checked" ? QVariant(Qt::AlignCenter) : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::FontRole:
        return column == u"checked" ? QVariant(markerFont()) : QVariant();
    default:
        return {};
    }
}

QVariant ShareListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    const QString& column = columnIdentifiers().at(section);
    if (role == kIdentifierRole) {
        return column;
    }
    if (role == Qt::DisplayRole) {
        if (column == u"name") {
            return localized("Name");
        }
        if (column == u"path") {
            return localized("Path");
        }
        return QString();
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

Qt::ItemFlags ShareListModel::flags(const QModelIndex& index) const {
    return index.isValid() ? (Qt::ItemIsEnabled | Qt::ItemIsSelectable) : Qt::NoItemFlags;
}

void ShareListModel::reloadData() {
    beginResetModel();
    endResetModel();
}

void ShareListModel::refreshValues() {
    const int rows = rowCount();
    if (rows > 0) {
        emit dataChanged(index(0, 0), index(rows - 1, columnCount() - 1), {Qt::DisplayRole, Qt::ToolTipRole});
    }
}

} // namespace lanyard
