// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/app/OLTesting.h"
#include "ostrel/app/Sharing.h"
#include "platform/ui/Alert.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace ostrel;

namespace {

const QString kSentence87 = QStringLiteral("我用Kestrune对我的Mac做了性能测试。成绩是：87分，浮点运算得了63分，综合运算"
                                           "70分，内存读写55分，磁盘读写91分。你呢？");

} // namespace

TEST(ResultSentence, ReportsTheFiveLabelsInTheirSlots)
{
    EXPECT_EQ(resultSentence("0分", "0分", "0分", "0分", "0分"),
              QStringLiteral("我用Kestrune对我的Mac做了性能测试。成绩是：0分，浮点运算得了0分，综合运算0分，内存读写0分"
                             "，磁盘读写0分。你呢？"));
    EXPECT_EQ(resultSentence("87分", "63分", "70分", "55分", "91分"), kSentence87);
    // Each label in its own slot, verbatim, and only there.
    EXPECT_EQ(
        resultSentence("A", "B", "C", "D", "E"),
        QStringLiteral(
            "我用Kestrune对我的Mac做了性能测试。成绩是：A，浮点运算得了B，综合运算C，内存读写D，磁盘读写E。你呢？"));
    EXPECT_EQ(resultSentence("", "", "", "", ""),
              QStringLiteral(
                  "我用Kestrune对我的Mac做了性能测试。成绩是：，浮点运算得了，综合运算，内存读写，磁盘读写。你呢？"));
}

TEST(ResultSentence, ComesFromThePanelsLabelsNotTheOverallScore)
{
    Panel panel;
    const char* labels[] = { "87分", "63分", "70分", "55分", "91分" };
    for (size_t i = 0; i < kTestKinds.size(); ++i)
        (panel.*kTestKinds[i].scoreLabel).setText(QString::fromUtf8(labels[i]));
    panel.allScoreLabel.setText(QStringLiteral("73分"));
    panel.lastTime.setText(QStringLiteral("上次性能测试：2026年12月8日 13:20"));
    EXPECT_EQ(resultSentence(panel), kSentence87);
    panel.diskScoreLabel.setText(QStringLiteral("12分"));
    EXPECT_EQ(resultSentence(panel), QString(kSentence87).replace(QStringLiteral("91分"), QStringLiteral("12分")));
}

TEST(MailUrl, CarriesTheSentenceAsTheBodyIntact)
{
    for (const QString& text : { kSentence87, QStringLiteral("a&b=c?d#e+f g%20/h") }) {
        const QUrl url = mailUrl(text);
        ASSERT_TRUE(url.isValid()) << url.errorString().toStdString();
        EXPECT_EQ(url.scheme(), QStringLiteral("mailto"));
        EXPECT_TRUE(url.path().isEmpty());
        const QByteArray encoded = url.toEncoded();
        for (char c : encoded)
            EXPECT_TRUE(uchar(c) < 0x80 && c != ' ' && c != '+') << encoded.toStdString();
        const QUrlQuery query(url);
        EXPECT_EQ(query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded), text);
        EXPECT_EQ(query.queryItems().size(), 1);
    }
}

TEST(SaveText, WritesUtf8WholeOrReportsWhy)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("成绩.txt"));
    ASSERT_TRUE(saveText(path, kSentence87));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), kSentence87.toUtf8());

    const platform::Status<SaveTextError> saved
        = saveText(dir.filePath(QStringLiteral("missing/成绩.txt")), kSentence87);
    ASSERT_FALSE(saved);
    EXPECT_FALSE(saved.error().reason.isEmpty());
}

class SharingPickerTest : public ::testing::Test
{
protected:
    SharingPickerTest()
    {
        services.openUrl = [this](const QUrl& url) {
            opened << url;
            return mailProgram;
        };
        services.chooseSaveFile = [this](QWidget*, const QString& suggested) {
            suggestedPaths << suggested;
            return savePath;
        };
    }

    QAction* action(QMenu* picker, int index) { return picker->actions().at(index); }

    QPushButton button;
    SharingServices services;
    QList<QUrl> opened;
    bool mailProgram = true;
    QStringList suggestedPaths;
    QString savePath;
    platform::ui::AlertRecorder alerts;
    QTemporaryDir dir;
};

TEST_F(SharingPickerTest, OffersCopyMailAndSave)
{
    QMenu* picker = makeSharingPicker(kSentence87, &button, services);
    ASSERT_EQ(picker->actions().size(), 3);
    EXPECT_TRUE(picker->testAttribute(Qt::WA_DeleteOnClose));

    QGuiApplication::clipboard()->clear();
    action(picker, 0)->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), kSentence87);

    action(picker, 1)->trigger();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.first(), mailUrl(kSentence87));

    savePath = dir.filePath(QStringLiteral("shared.txt"));
    action(picker, 2)->trigger();
    ASSERT_EQ(suggestedPaths.size(), 1);
    EXPECT_TRUE(suggestedPaths.first().endsWith(QStringLiteral(".txt")));
    QFile saved(savePath);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(saved.readAll()), kSentence87);
    EXPECT_TRUE(alerts.alerts().isEmpty());
    delete picker;
}

TEST_F(SharingPickerTest, AFailingServiceSaysSoAndACancelDoesNothing)
{
    QMenu* picker = makeSharingPicker(kSentence87, &button, services);
    mailProgram = false;
    action(picker, 1)->trigger();
    ASSERT_EQ(alerts.alerts().size(), 1);
    EXPECT_EQ(alerts.alerts().first().messageText, QStringLiteral("无法打开邮件程序。"));
    EXPECT_EQ(alerts.alerts().first().window, button.window());

    alerts.clear();
    savePath.clear(); // the user cancelled the dialog
    action(picker, 2)->trigger();
    EXPECT_TRUE(alerts.alerts().isEmpty());

    savePath = dir.filePath(QStringLiteral("no/such/folder/shared.txt"));
    action(picker, 2)->trigger();
    ASSERT_EQ(alerts.alerts().size(), 1);
    EXPECT_EQ(alerts.alerts().first().messageText, QStringLiteral("无法存储文本文件。"));
    EXPECT_TRUE(alerts.alerts().first().informativeText.contains(QStringLiteral("shared.txt")));
    delete picker;
}

TEST(SharingPicker, OpensAgainstTheSendersMinimumXEdgeWithinTheScreen)
{
    QPushButton probe(QStringLiteral("分享"));
    const QRect screen = probe.screen()->availableGeometry();
    const struct
    {
        const char* name;
        int buttonX;
        bool fitsBeside;
    } cases[] = {
        { "room to the left", screen.left() + 400, true },
        { "near the screen's left edge", screen.left() + 5, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QPushButton button(QStringLiteral("分享"));
        button.move(c.buttonX, screen.top() + 100);
        button.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&button));
        const QPoint topLeft = button.mapToGlobal(QPoint(0, 0));

        QMenu* picker = makeSharingPicker(QStringLiteral("text"), &button, SharingServices::desktop());
        showSharingPicker(picker, &button);
        ASSERT_TRUE(picker->isVisible());
        EXPECT_EQ(picker->y(), topLeft.y());
        if (c.fitsBeside)
            EXPECT_EQ(picker->geometry().right() + 1, topLeft.x());
        else
            EXPECT_EQ(picker->x(), screen.left()) << "moved right only as far as the edge requires";
        delete picker;
    }
}
