// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/VNQuery.h"

#include "platform/ui/Alert.h"
#include "vantor/ArrayController.h"
#include "vantor/extension.h"
#include "vantor/net/BundledDatabases.h"
#include "vantor/net/Failure.h"
#include "vantor/net/IpDatabase.h"
#include "vantor/net/IpInfo.h"
#include "vantor/net/OwnAddress.h"
#include "vantor/net/ReservedBlocks.h"

#include <QDateTime>
#include <QIODevice>
#include <QLabel>
#include <QLineEdit>
#include <cstdio>

namespace vantor {

VNQuery::VNQuery(ServiceConfig services, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services))
{
}

QLineEdit* VNQuery::ipTextField() const
{
    return m_ipTextField;
}

void VNQuery::setIpTextField(QLineEdit* field)
{
    m_ipTextField = field;
}

ArrayController* VNQuery::arrayController() const
{
    return m_arrayController;
}

void VNQuery::setArrayController(ArrayController* controller)
{
    m_arrayController = controller;
}

QLabel* VNQuery::ownAddressLabel() const
{
    return m_ownAddressLabel;
}

void VNQuery::setOwnAddressLabel(QLabel* label)
{
    m_ownAddressLabel = label;
}

QLabel* VNQuery::stateLabel() const
{
    return m_stateLabel;
}

void VNQuery::setStateLabel(QLabel* label)
{
    m_stateLabel = label;
}

QLabel* VNQuery::sourceLabel() const
{
    return m_sourceLabel;
}

void VNQuery::setSourceLabel(QLabel* label)
{
    m_sourceLabel = label;
}

void VNQuery::setAddressOutput(QIODevice* output)
{
    m_addressOutput = output;
}

void VNQuery::query(QObject* /*sender*/)
{
    query(m_ipTextField ? m_ipTextField->text() : QString());
}

void VNQuery::query(const QString& address)
{
    m_list.clear();
    showSource(std::nullopt);

    // Not on the public Internet: no service or database can place it, so none is asked. Said as an address the
    // service rejects is; the table keeps its rows.
    if (specialPurposeBlock(QStringView(address))) {
        const Failure& rejected = failure(FailureKind::Rejected);
        platform::ui::showAlert(QString::fromUtf16(rejected.title), alertText(rejected, QString()), mainWindow());
        return;
    }

    const IpInfoFormatAdapter& adapter = ipInfoFormat(m_services.ipInfoFormat);
    IpInfoAnswer answer;
    if (adapter.lookUpLocally) {
        answer = adapter.lookUpLocally(m_services, address);
        const std::vector<DatabaseAge> ages = databaseAges(m_services, QDateTime::currentSecsSinceEpoch());
        if (failureOf(answer.kind) == FailureKind::None && !ages.empty())
            showSource(std::pair { ages.front().built, ages.front().stale });
    } else {
        const std::optional<WebAnswer> web
            = internetAnswer(ipInfoRequest(m_services, address), m_services.ipInfoTimeout);
        if (!web) {
            // The network or certificate alert has said why the service gave nothing.
            answerFromBundledData(address);
            return;
        }
        answer = adapter.readAnswer(*web);
    }

    const FailureKind failed = failureOf(answer.kind);
    if (failed == FailureKind::None) {
        m_list.append(answer.rows());
    } else {
        const Failure& shown = failure(failed);
        platform::ui::showAlert(QString::fromUtf16(shown.title), alertText(shown, answer.problem), mainWindow());
        // The table keeps showing the previous rows until the next successful query.
        if (failed == FailureKind::Rejected)
            return;
    }
    if (m_arrayController)
        m_arrayController->rearrangeObjects();
}

void VNQuery::answerFromBundledData(const QString& address)
{
    const std::optional<BundledAnswer> bundled = lookUpInBundledDatabases(address);
    if (!bundled || failureOf(bundled->answer.kind) != FailureKind::None)
        return;
    m_list.append(bundled->answer.rows());
    showSource(std::pair { bundled->built, bundled->stale });
    if (m_arrayController)
        m_arrayController->rearrangeObjects();
}

void VNQuery::showSource(std::optional<std::pair<QDate, bool>> builtAndStale)
{
    if (!m_sourceLabel)
        return;
    m_sourceLabel->setText(builtAndStale ? localSourceLine(builtAndStale->first, builtAndStale->second) : QString());
    m_sourceLabel->setVisible(builtAndStale.has_value());
}

void VNQuery::awakeFromNib()
{
    if (m_search)
        return;
    m_search = new OwnAddressSearch(m_services.myAddressUrls, m_services.myAddressTimeout, this);
    connect(m_search, &OwnAddressSearch::settled, this, &VNQuery::showOwnAddresses);
    m_search->start();
    // Only the family to look up is waited for; the other one shows up whenever it comes.
    const auto ipv4 = [this] { return m_search->address(AddressFamily::IPv4); };
    m_search->wait([&] {
        return ipv4() || (m_search->isSettled(AddressFamily::IPv4) && m_search->isSettled(AddressFamily::IPv6));
    });
    if (const std::optional<QString> address = ipv4() ? ipv4() : m_search->address(AddressFamily::IPv6))
        query(*address);
}

void VNQuery::showOwnAddresses()
{
    QStringList parts;
    for (AddressFamily family : kAddressFamilies) {
        if (const std::optional<QString> address = m_search->address(family)) {
            const QString escaped = address->toHtmlEscaped();
            parts << QStringLiteral("%1：<a href=\"%2\">%2</a>").arg(familyName(family), escaped);
        }
    }
    if (m_ownAddressLabel) {
        m_ownAddressLabel->setText(QStringLiteral("本机 ") + parts.join(QStringLiteral("　")));
        m_ownAddressLabel->setVisible(!parts.isEmpty());
    }

    // Standard output has IPv4 first, so an IPv6 address found earlier waits for the IPv4 search to settle.
    while (m_familiesPrinted < 2 && m_search->isSettled(kAddressFamilies[m_familiesPrinted])) {
        if (const std::optional<QString> address = m_search->address(kAddressFamilies[m_familiesPrinted]))
            writeAddressLine(*address);
        ++m_familiesPrinted;
    }

    const bool noneFound
        = m_search->isSettled(AddressFamily::IPv4) && m_search->isSettled(AddressFamily::IPv6) && parts.isEmpty();
    if (noneFound && m_stateLabel) {
        m_stateLabel->setText(QStringLiteral("没有得到本机的公网地址：") + m_search->lastFailure());
        m_stateLabel->setVisible(true);
    }
}

void VNQuery::writeAddressLine(const QString& address)
{
    const QByteArray line = address.toUtf8() + '\n';
    if (m_addressOutput) {
        m_addressOutput->write(line);
        return;
    }
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

QWidget* VNQuery::mainWindow() const
{
    return m_ipTextField ? m_ipTextField->window() : nullptr;
}

} // namespace vantor
