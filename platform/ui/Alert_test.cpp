// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/Alert.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

using platform::ui::AlertRecorder;
using platform::ui::showAlert;

QList<QMessageBox*> openBoxes()
{
    QList<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::allWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            boxes << box;
    }
    return boxes;
}

void dismiss(QMessageBox* box)
{
    ASSERT_EQ(box->buttons().size(), 1);
    QPointer<QMessageBox> watched(box);
    box->buttons().first()->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(watched.isNull()) << "a dismissed alert deletes itself";
}

TEST(Alert, FreeStandingAlertBlocksTheApplicationAndReturnsAtOnce)
{
    showAlert(QStringLiteral("连接超时"), QStringLiteral("您的网络不太给力哦！"));

    const QList<QMessageBox*> boxes = openBoxes();
    ASSERT_EQ(boxes.size(), 1);
    QMessageBox* box = boxes.first();
    EXPECT_EQ(box->text(), QStringLiteral("连接超时"));
    EXPECT_EQ(box->informativeText(), QStringLiteral("您的网络不太给力哦！"));
    EXPECT_EQ(box->parentWidget(), nullptr);
    EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
    dismiss(box);
}

TEST(Alert, SheetBlocksOnlyItsWindow)
{
    QWidget window;
    QWidget child(&window);
    window.show();

    showAlert(QStringLiteral("查询错误"), QStringLiteral("您输入的IP有误"), &child);

    const QList<QMessageBox*> boxes = openBoxes();
    ASSERT_EQ(boxes.size(), 1);
    QMessageBox* box = boxes.first();
    EXPECT_EQ(box->parentWidget(), &window);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->text(), QStringLiteral("查询错误"));
    EXPECT_EQ(box->informativeText(), QStringLiteral("您输入的IP有误"));
    dismiss(box);
}

TEST(Alert, RecorderTakesTheAlertsInsteadOfTheScreen)
{
    QWidget window;
    QWidget child(&window);
    AlertRecorder outer;
    {
        AlertRecorder inner;
        showAlert(QStringLiteral("a"), QStringLiteral("b"), &child);
        ASSERT_EQ(inner.alerts().size(), 1);
        EXPECT_EQ(inner.alerts()[0].messageText, QStringLiteral("a"));
        EXPECT_EQ(inner.alerts()[0].informativeText, QStringLiteral("b"));
        EXPECT_EQ(inner.alerts()[0].window, &window);
    }
    showAlert(QStringLiteral("c"), QStringLiteral("d"));
    ASSERT_EQ(outer.alerts().size(), 1);
    EXPECT_EQ(outer.alerts()[0].messageText, QStringLiteral("c"));
    EXPECT_EQ(outer.alerts()[0].window, nullptr);
    EXPECT_TRUE(openBoxes().isEmpty());
}

} // namespace
