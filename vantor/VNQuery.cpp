// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/VNQuery.h"

#include "platform/ui/Alert.h"
#include "vantor/ArrayController.h"
#include "vantor/extension.h"
#include "vantor/net/IpInfo.h"
#include "vantor/net/OwnAddress.h"

#include <QIODevice>
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

    const IpInfoFormatAdapter& adapter = ipInfoFormat(m_services.ipInfoFormat);
    IpInfoAnswer answer;
    if (adapter.lookUpLocally) {
        answer = adapter.lookUpLocally(m_services, address);
    } else {
        const std::optional<WebAnswer> web
            = internetAnswer(ipInfoRequestUrl(m_services, address), m_services.ipInfoTimeout);
        if (!web)
            return; // the network alert has said it all
        answer = adapter.readAnswer(*web);
    }

    const QString queryError = QStringLiteral("查询错误");
    switch (answer.kind) {
    case IpInfoAnswer::Kind::Rejected:
        // The table keeps showing the previous rows until the next successful query.
        platform::ui::showAlert(queryError, QStringLiteral("您输入的IP有误"), mainWindow());
        return;
    case IpInfoAnswer::Kind::RateLimited:
        platform::ui::showAlert(queryError, QStringLiteral("查询太频繁，请稍后再试。"), mainWindow());
        break;
    case IpInfoAnswer::Kind::Unreadable:
        platform::ui::showAlert(queryError, QStringLiteral("无法读取IP信息服务的回答。"), mainWindow());
        break;
    case IpInfoAnswer::Kind::NotFound:
        platform::ui::showAlert(queryError, QStringLiteral("数据库中没有这个地址。"), mainWindow());
        break;
    case IpInfoAnswer::Kind::Unavailable:
        platform::ui::showAlert(QStringLiteral("配置错误"), answer.problem, mainWindow());
        break;
    case IpInfoAnswer::Kind::Rows:
        m_list.append(answer.rows());
        break;
    }
    if (m_arrayController)
        m_arrayController->rearrangeObjects();
}

void VNQuery::awakeFromNib()
{
    const std::optional<QString> answer = initWithInternetString(m_services.myAddressUrl, m_services.myAddressTimeout);
    // Without an address (no network at launch, or a captive portal's page instead of the service's answer) there
    // is nothing to print or look up; the window waits for the user, who will hear about the network on the first
    // query.
    const std::optional<QString> address = answer ? ownAddressFromAnswer(*answer) : std::nullopt;
    if (!address)
        return;
    writeAddressLine(*address);
    query(*address);
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
