// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/InfoRow.h"

#include <QAbstractTableModel>
#include <QList>

namespace vantor {

// The table's model. It shows its content list as it stood at the last rearrangeObjects(): changing the list
// alone does not change what the table shows.
class ArrayController : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { KeyColumn, ValueColumn, ColumnCount };

    explicit ArrayController(QObject* parent = nullptr);

    // The list must outlive this model, or be unset first.
    void setContent(const QList<InfoRow>* content);
    void rearrangeObjects();
    const QList<InfoRow>& arrangedObjects() const { return m_arranged; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const QList<InfoRow>* m_content = nullptr;
    QList<InfoRow> m_arranged;
};

} // namespace vantor
