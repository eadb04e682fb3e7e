#include "view/recordtable.h"

#include "view/capturemodel.h"
#include "view/plotpainter.h"

#include <QBrush>
#include <QGuiApplication>
#include <QPalette>

#include <algorithm>
#include <climits>

TRecordTableModel::TRecordTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void TRecordTableModel::SetRecords(std::vector<std::string> columns, std::size_t rows,
                                   TFieldsFunction fields, TMarksFunction marks) {
    beginResetModel();
    FColumns = std::move(columns);
    const auto source = std::find(FColumns.begin(), FColumns.end(), "source");
    FSourceColumn = source == FColumns.end() ? SIZE_MAX : static_cast<std::size_t>(source - FColumns.begin());
    FRows = rows;
    FFields = std::move(fields);
    FMarks = std::move(marks);
    FBlockFirst = SIZE_MAX;
    FBlock.clear();
    endResetModel();
}

void TRecordTableModel::Clear() {
    SetRecords({}, 0, nullptr, nullptr);
}

int TRecordTableModel::rowCount(const QModelIndex& parent) const {
    // A view's rows are ints: a capture above INT_MAX frames shows its first INT_MAX.
    return parent.isValid() ? 0 : static_cast<int>(std::min<std::size_t>(FRows, INT_MAX));
}

int TRecordTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FColumns.size());
}

const std::vector<std::string>& TRecordTableModel::RowFields(std::size_t row) const {
    const std::size_t first = row / BlockRows * BlockRows;
    if (first != FBlockFirst) {
        FBlock.clear();
        const std::size_t end = std::min(FRows, first + BlockRows);
        for (std::size_t i = first; i < end; ++i) {
            FBlock.push_back(FFields(i));
        }
        FBlockFirst = first;
    }
    return FBlock[row - first];
}

QVariant TRecordTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= FRows) {
        return {};
    }
    const auto row = static_cast<std::size_t>(index.row());
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        const auto& fields = RowFields(row);
        const auto column = static_cast<std::size_t>(index.column());
        if (column >= fields.size()) {
            return QString();
        }
        const std::string& field = fields[column];
        if (role == Qt::DisplayRole && column == FSourceColumn) {
            // Every row comes from the one file: the cell shows its name and the frame's place
            // in it ("capture.sr#4"), the tooltip the whole source as the records write it.
            return QString::fromStdString(field.substr(field.find_last_of("/\\") + 1));
        }
        return QString::fromStdString(field);
    }
    if (role == Qt::DecorationRole && index.column() == 0 && FMarks) {
        const std::uint8_t marks = FMarks(row);
        for (const TFrameMark mark : MarkLanes) {
            if ((marks & mark) != 0) {
                return MarkColour(mark);
            }
        }
    }
    return {};
}

QVariant TRecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) {
        return {};
    }
    if (orientation == Qt::Horizontal) {
        return section >= 0 && static_cast<std::size_t>(section) < FColumns.size()
                   ? QString::fromStdString(FColumns[static_cast<std::size_t>(section)])
                   : QVariant();
    }
    return section + 1;
}

std::size_t FindMarkedFrame(std::size_t frames, std::size_t from, bool forward, std::uint8_t mask,
                            const std::function<std::uint8_t(std::size_t)>& marks) {
    if (forward) {
        for (std::size_t i = from == SIZE_MAX ? 0 : from + 1; i < frames; ++i) {
            if ((marks(i) & mask) != 0) {
                return i;
            }
        }
    } else {
        for (std::size_t i = std::min(from, frames); i-- > 0;) {
            if ((marks(i) & mask) != 0) {
                return i;
            }
        }
    }
    return SIZE_MAX;
}
