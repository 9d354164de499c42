// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/AddressList.h"
#include "vantor/testing/CliTest.h"

#include <thread>

namespace {

enum class Delivery { Whole, Trickled };

class LocalLookupTest : public ::testing::TestWithParam<Delivery>
{
};

// A local database looks a long list up on several threads; the answers and what standard error says keep the
// list's order, across every batch: with the whole list at hand, and with a pipe whose lines come a few at a time,
// so that batches are cut short and the reading waits between them.
TEST_P(LocalLookupTest, ManyThreadsKeepTheListsOrder)
{
    const vantor::testing::TestDatabases databases;
    ASSERT_TRUE(databases.written());
    vantor::ServiceConfig services;
    services.ipInfoFormat = vantor::IpInfoFormat::Mmdb;
    services.ipInfoDatabases = QStringList { databases.city() };
    services.asnDatabase = databases.asn();
    const std::pair<const char*, const char*> kinds[] = {
        { "142.250.7.%1", ",中国,上海,上海,China Telecom,ok,142.250.7.0/24," },
        { "81.2.69.%1", ",,,,,not-found,," }, // below .128 only
        { "2001:67c::%1", ",日本,,东京,,ok,2001:67c::/32," },
        { "bogus%1", ",,,,,rejected,," },
        { "192.168.1.%1", ",,,,,ok,192.168.0.0/16,私有网络" }, // never looked up
    };
    QByteArray list;
    QStringList rows;
    QByteArray err;
    for (int i = 0; i < 20000; ++i) {
        const auto& [address, row] = kinds[(i * 7 + i / 5) % std::size(kinds)];
        const QString query = QString::fromLatin1(address).arg(i % 100);
        list += query.toUtf8() + '\n';
        rows << query + QString::fromUtf8(row);
        if (query.startsWith(QLatin1String("81.")))
            err += "vantor-cli: " + query.toUtf8() + ": 查询错误: 数据库中没有这个地址。\n";
        if (query.startsWith(QLatin1String("bogus")))
            err += "-:" + QByteArray::number(i + 1) + ": not an address: " + query.toUtf8() + '\n';
    }
    QBuffer whole(&list);
    whole.open(QIODevice::ReadOnly);
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    vantor::cli::DescriptorReader trickled(pipe[0]);
    trickled.open(QIODevice::ReadOnly);
    std::thread feeder([&] {
        // Pieces that end mid-line as often as not.
        for (qsizetype at = 0; GetParam() == Delivery::Trickled && at < list.size(); at += 4093) {
            const qsizetype size = std::min<qsizetype>(4093, list.size() - at);
            EXPECT_EQ(::write(pipe[1], list.constData() + at, std::size_t(size)), size);
            std::this_thread::yield();
        }
        ::close(pipe[1]);
    });
    Captured captured;
    vantor::cli::LookupOptions options;
    options.format = vantor::cli::OutputFormat::Csv;
    options.standardInput = GetParam() == Delivery::Whole ? static_cast<QIODevice*>(&whole) : &trickled;

    const int status = vantor::cli::lookUp(services, { { vantor::cli::AddressSource::Kind::File, "-" } }, options,
                                           captured.out, captured.err, [](auto) {});
    feeder.join();
    ::close(pipe[0]);

    EXPECT_EQ(status, 1);
    QStringList written = QString::fromUtf8(captured.out.data()).split(QStringLiteral("\r\n"));
    EXPECT_EQ(written.takeFirst(), QStringLiteral("ip,country,region,city,isp,status,network,special"));
    EXPECT_EQ(written.takeLast(), QString());
    EXPECT_EQ(written, rows);
    EXPECT_EQ(captured.err.data().toStdString(), err.toStdString());
}

INSTANTIATE_TEST_SUITE_P(Inputs, LocalLookupTest, ::testing::Values(Delivery::Whole, Delivery::Trickled),
                         [](const auto& info) { return info.param == Delivery::Whole ? "Whole" : "Trickled"; });

} // namespace
