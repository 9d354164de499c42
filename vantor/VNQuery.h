// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/InfoRow.h"
#include "vantor/net/Services.h"

#include <QDate>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

class QIODevice;
class QLabel;
class QLineEdit;

namespace vantor {

class ArrayController;
class OwnAddressSearch;

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
    // The line above the table with this machine's addresses, each a link that looks it up.
    QLabel* ownAddressLabel() const;
    void setOwnAddressLabel(QLabel* label);
    // Beside the field: what went wrong at launch.
    QLabel* stateLabel() const;
    void setStateLabel(QLabel* label);

    // Under the table: where the rows come from, when that is a local database.
    QLabel* sourceLabel() const;
    void setSourceLabel(QLabel* label);

    // Where awakeFromNib() prints the address; standard output when unset.
    void setAddressOutput(QIODevice* output);

    // The action of the query button and of Return in the address field; the sender makes no difference.
    void query(QObject* sender);
    // Looks the address up and replaces the table's rows, or tells the user why it cannot.
    void query(const QString& address);
    // Once at launch: searches both of this machine's public addresses at once and looks up the IPv4 one as soon as
    // it is known (the IPv6 one when there is no IPv4). The IPv6 one may still come in afterwards.
    void awakeFromNib();
    // The launch's search; null before awakeFromNib().
    const OwnAddressSearch* ownAddressSearch() const { return m_search; }

private:
    void writeAddressLine(const QString& address);
    // After a fetch that failed: the rows the bundled databases hold for the address, if any.
    void answerFromBundledData(const QString& address);
    // The line under the table: hidden for nothing, else when the database was built and whether that is long ago.
    void showSource(std::optional<std::pair<QDate, bool>> builtAndStale);
    // Shows, prints and reports what the search has found so far.
    void showOwnAddresses();
    QWidget* mainWindow() const;

    QList<InfoRow> m_list;
    QPointer<QLineEdit> m_ipTextField;
    QPointer<ArrayController> m_arrayController;
    ServiceConfig m_services;
    QPointer<QIODevice> m_addressOutput;
    QPointer<QLabel> m_ownAddressLabel;
    QPointer<QLabel> m_stateLabel;
    QPointer<QLabel> m_sourceLabel;
    OwnAddressSearch* m_search = nullptr; // a child
    int m_familiesPrinted = 0; // IPv4, then IPv6: how many have had their turn on standard output
};

} // namespace vantor
