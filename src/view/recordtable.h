// The records of a capture as a virtual table: rows are made when the view asks for them, a
// block at a time, from a function that writes a frame's record; nothing is kept per row.
#pragma once

#include <QAbstractTableModel>
#include <QColor>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TRecordTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    using TFieldsFunction = std::function<std::vector<std::string>(std::size_t)>;
    // The marks of frame i (TFrameMark bits), for the row colours.
    using TMarksFunction = std::function<std::uint8_t(std::size_t)>;

    explicit TRecordTableModel(QObject* parent = nullptr);

    // Shows `rows` records with `columns`; `fields` writes row i's fields. An empty model
    // with no columns when rows is 0 and columns empty.
    void SetRecords(std::vector<std::string> columns, std::size_t rows, TFieldsFunction fields,
                    TMarksFunction marks);
    void Clear();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The fields of row i, from the cache.
    const std::vector<std::string>& RowFields(std::size_t row) const;

private:
    static constexpr std::size_t BlockRows = 256;

    std::vector<std::string> FColumns;
    std::size_t FRows = 0;
    std::size_t FSourceColumn = SIZE_MAX; // the "source" column, shown without its folder
    TFieldsFunction FFields;
    TMarksFunction FMarks;
    // The block of rows last asked for.
    mutable std::size_t FBlockFirst = SIZE_MAX;
    mutable std::vector<std::vector<std::string>> FBlock;
};

// The next (forward) or previous frame from `from` (excluded) whose marks include one of
// `mask`, or SIZE_MAX; `marks` gives a frame's marks.
std::size_t FindMarkedFrame(std::size_t frames, std::size_t from, bool forward, std::uint8_t mask,
                            const std::function<std::uint8_t(std::size_t)>& marks);
