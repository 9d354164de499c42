// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/ArrayController.h"

namespace vantor {

ArrayController::ArrayController(QObject* parent)
    : QAbstractTableModel(parent)
{
}

void ArrayController::setContent(const QList<InfoRow>* content)
{
    m_content = content;
}

void ArrayController::rearrangeObjects()
{
    beginResetModel();
    m_arranged = m_content ? *m_content : QList<InfoRow>();
    endResetModel();
}

int ArrayController::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_arranged.size());
}

int ArrayController::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ArrayController::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const InfoRow& row = m_arranged.at(index.row());
    return index.column() == KeyColumn ? row.key : row.value;
}

QVariant ArrayController::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case KeyColumn:
        return QStringLiteral("Key");
    case ValueColumn:
        return QStringLiteral("Value");
    default:
        return {};
    }
}

} // namespace vantor
