// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/InfoRow.h"
#include "vantor/net/Services.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QIODevice;
class QLineEdit;

namespace vantor {

class ArrayController;

// The lookup window's controller: it owns the rows the table shows and fills them from the IP-information
// service. Its outlets are connected by MainInterface.
class VNQuery : public QObject
{
    Q_OBJECT

public:
    explicit VNQuery(ServiceConfig services = {}, QObject* parent = nullptr);

    const QList<InfoRow>& List() const { return m_list; }

    QLineEdit* ipTextField() const;
    void setIpTextField(QLineEdit* field);
    ArrayController* arrayController() const;
    void setArrayController(ArrayController* controller);

    // Where awakeFromNib() prints the address; standard output when unset.
    void setAddressOutput(QIODevice* output);

    // The action of the query button and of Return in the address field; the sender makes no difference.
    void query(QObject* sender);
    // Looks the address up and replaces the table's rows, or tells the user why it cannot.
    void query(const QString& address);
    // Once at launch: looks up this machine's own public address.
    void awakeFromNib();

private:
    void writeAddressLine(const QString& address);
    QWidget* mainWindow() const;

    QList<InfoRow> m_list;
    QPointer<QLineEdit> m_ipTextField;
    QPointer<ArrayController> m_arrayController;
    ServiceConfig m_services;
    QPointer<QIODevice> m_addressOutput;
};

} // namespace vantor
