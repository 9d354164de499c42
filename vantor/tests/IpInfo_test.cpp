#include "vantor/IpInfo.h"

#include <gtest/gtest.h>

namespace {

using vantor::InfoRow;
using vantor::IpInfoAnswer;
using Kind = IpInfoAnswer::Kind;

QList<InfoRow> rows(const char* ip, const char* country, const char* area, const char* city, const char* isp)
{
    return {
        { QStringLiteral("IP"), QString::fromUtf8(ip) },      { QStringLiteral("国家"), QString::fromUtf8(country) },
        { QStringLiteral("地区"), QString::fromUtf8(area) },  { QStringLiteral("城市"), QString::fromUtf8(city) },
        { QStringLiteral("运营商"), QString::fromUtf8(isp) },
    };
}

struct AnswerCase
{
    const char* name;
    const char* body;
    Kind kind;
    QList<InfoRow> rows;
};

void PrintTo(const AnswerCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReadIpInfoAnswerTest : public ::testing::TestWithParam<AnswerCase>
{
};

TEST_P(ReadIpInfoAnswerTest, Reads)
{
    const AnswerCase& c = GetParam();
    const IpInfoAnswer answer = vantor::readIpInfoAnswer(QByteArray(c.body));
    EXPECT_EQ(answer.kind, c.kind);
    EXPECT_EQ(answer.rows, c.rows);
}

const auto kFullRows = rows("203.0.113.7", "中国", "华东", "上海", "电信");

INSTANTIATE_TEST_SUITE_P(
    Answers, ReadIpInfoAnswerTest,
    ::testing::Values(
        AnswerCase {
            "Normal",
            R"({"code":0,"data":{"ip":"203.0.113.7","country":"中国","area":"华东","city":"上海","isp":"电信"}})",
            Kind::Rows, kFullRows },
        AnswerCase {
            "MembersInAnotherOrderAndExtraOnes",
            R"({"data":{"isp":"电信","city":"上海","region":"x","area":"华东","country":"中国","ip":"203.0.113.7"},"code":0})",
            Kind::Rows, kFullRows },
        AnswerCase { "EmptyArea",
                     R"({"code":0,"data":{"ip":"203.0.113.7","country":"中国","area":"","city":"上海","isp":"电信"}})",
                     Kind::Rows, rows("203.0.113.7", "中国", "未知", "上海", "电信") },
        AnswerCase { "SpacesAreKept",
                     R"({"code":0,"data":{"ip":"203.0.113.7","country":"中国","area":"  ","city":" ","isp":"电信"}})",
                     Kind::Rows, rows("203.0.113.7", "中国", "  ", " ", "电信") },
        AnswerCase { "MissingOrNonTextMembersAreUnknown",
                     R"({"code":0,"data":{"ip":"203.0.113.7","country":86,"area":null,"isp":["电信"]}})", Kind::Rows,
                     rows("203.0.113.7", "未知", "未知", "未知", "未知") },
        AnswerCase { "CodeTwoIsSuccess",
                     R"({"code":2,"data":{"ip":"a","country":"b","area":"c","city":"d","isp":"e"}})", Kind::Rows,
                     rows("a", "b", "c", "d", "e") },
        AnswerCase { "CodeZeroAsDecimal",
                     R"({"code":0.0,"data":{"ip":"a","country":"b","area":"c","city":"d","isp":"e"}})", Kind::Rows,
                     rows("a", "b", "c", "d", "e") },
        AnswerCase { "CodeOneRejectsWithoutReadingData", R"({"code":1,"data":"invalid ip"})", Kind::Rejected, {} },
        AnswerCase { "CodeOneWithFullData",
                     R"({"code":1,"data":{"ip":"a","country":"b","area":"c","city":"d","isp":"e"}})",
                     Kind::Rejected,
                     {} },
        AnswerCase { "CodeIsReadAsAnInteger", R"({"code":1.5})", Kind::Rejected, {} },
        AnswerCase { "CodeMinusOneIsSuccess", R"({"code":-1,"data":{}})", Kind::Rows,
                     rows("未知", "未知", "未知", "未知", "未知") },
        AnswerCase { "NotJson", "<html>404 Not Found</html>", Kind::Unreadable, {} },
        AnswerCase { "Empty", "", Kind::Unreadable, {} }, AnswerCase { "TopLevelNumber", "1", Kind::Unreadable, {} },
        AnswerCase { "TopLevelText", R"("x")", Kind::Unreadable, {} },
        AnswerCase { "TopLevelArray", R"([{"code":0}])", Kind::Unreadable, {} },
        AnswerCase { "NoCode", R"({"data":{"ip":"a"}})", Kind::Unreadable, {} },
        AnswerCase { "CodeAsText", R"({"code":"1","data":{}})", Kind::Unreadable, {} },
        AnswerCase { "CodeAsBoolean", R"({"code":true,"data":{}})", Kind::Unreadable, {} },
        AnswerCase { "NoData", R"({"code":0})", Kind::Unreadable, {} },
        AnswerCase { "DataNotAnObject", R"({"code":0,"data":["a","b"]})", Kind::Unreadable, {} },
        AnswerCase { "TrailingGarbage", R"({"code":0,"data":{}} x)", Kind::Unreadable, {} }),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return info.param.name; });

} // namespace
