#pragma once

#include "server/lists/top_insert_model.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <vector>

// The point list: "Точка", "Последнее событие". Each row carries its
// point's serial number as item data (Qt::UserRole).
class CPointListModel final : public CTopInsertModel
{
    Q_OBJECT

public:
    explicit CPointListModel(QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    int Size() const override { return static_cast<int>(rows_.size()); }

    // Adds a row at the top; returns its stored row.
    int InsertTop(const QString& name, std::uint32_t serial);
    // Stored row of the first row from the top with this serial, or -1.
    int FindRow(std::uint32_t serial) const;
    void SetIcon(int stored, int icon);
    // Column 1 shows the event's text and the row its icon.
    void SetEvent(int stored, std::uint8_t code);
    // Column 1 shows that the point has not been heard from.
    void SetSilent(int stored);
    // Column 0 of a shown row: the point's stored name (an empty one shows
    // the serial number).
    void SetName(const QModelIndex& index, const QString& name);

    // Contents of a stored row, announced or not.
    QString Text(int stored, int column) const;
    int IconOf(int stored) const;
    std::uint32_t SerialOf(int stored) const;

protected:
    void ClearRows() override;

private:
    enum : std::int16_t { kNoText = -1, kSilentText = -2 };
    struct Row
    {
        QString name;
        std::uint32_t serial = 0;
        std::int16_t text = kNoText; // event code, or kNoText / kSilentText
        std::int8_t icon = -1;
    };

    std::vector<Row> rows_;
    QHash<std::uint32_t, int> newestRow_; // serial -> stored row nearest the top
};
