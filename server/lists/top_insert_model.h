#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>
#include <QTimer>

#include <vector>

// Base of the server's list models. Rows are kept oldest first and shown
// newest first, so a new row at the top costs nothing. Views pay for every
// row inserted above the rows they hold, so new rows are announced to them
// in batches, at most every kAnnounceInterval; the lists themselves are
// always up to date for the code that fills them (Size, RowOf, ...).
class CTopInsertModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr int kAnnounceInterval = 250; // ms
    // The icon position of a row, for tests and delegates.
    static constexpr int IconIndexRole = Qt::UserRole + 1;

    // One column per header text.
    CTopInsertModel(QStringList headers, QObject* parent);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The pictures of the image list, by icon position.
    void SetIcons(std::vector<QIcon> icons);

    // Rows held, announced or not.
    virtual int Size() const = 0;
    // Announces the rows added since the last announcement.
    void Flush();
    // Empties the list at once (views learn it immediately).
    void Clear();
    // Rebuilding the whole list: views learn the result in one reset.
    void BeginRebuild();
    void EndRebuild();

protected:
    // Display row of a stored row, or -1 while the row is not announced.
    int DisplayRow(int stored) const;
    // Stored row of an announced display row.
    int StoredRow(int display) const { return announced_ - 1 - display; }
    void RowAdded();
    void RowChanged(int stored);
    QVariant Icon(int position) const;
    virtual void ClearRows() = 0;

private:
    void FlushChanges();

    QStringList headers_;
    std::vector<QIcon> icons_;
    QTimer announceTimer_;
    int announced_ = 0;
    bool rebuilding_ = false;
    int dirtyFirst_ = -1; // stored rows changed since the last announcement
    int dirtyLast_ = -1;
};
