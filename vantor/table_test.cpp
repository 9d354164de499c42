// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/testing/WindowTest.h"

namespace {

using namespace window_test;

TEST_F(WindowTest, AssistiveTechnologyReadsTheFieldAndTheCells)
{
    nib->window()->show();
    controller().query(QStringLiteral("142.250.7.7"));

    QAccessibleInterface* field = QAccessible::queryAccessibleInterface(nib->ipTextField());
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->text(QAccessible::Name), QStringLiteral("IP地址"));

    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(nib->tableView());
    ASSERT_NE(table, nullptr);
    ASSERT_NE(table->tableInterface(), nullptr);
    EXPECT_EQ(table->tableInterface()->rowCount(), 5);
    QAccessibleInterface* cell = table->tableInterface()->cellAt(4, 1);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(QAccessible::Name), QStringLiteral("电信"));
}

TEST_F(WindowTest, CopiesSelectedRowsOrAll)
{
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QTableView* table = nib->tableView();
    QAction* copy = nib->copyAction();
    QAction* copyAll = nib->copyAllAction();
    ASSERT_TRUE(table->actions().contains(copy));
    ASSERT_TRUE(table->actions().contains(copyAll));
    EXPECT_EQ(copy->text(), QStringLiteral("拷贝"));
    EXPECT_EQ(copyAll->text(), QStringLiteral("拷贝全部"));
    EXPECT_EQ(table->contextMenuPolicy(), Qt::ActionsContextMenu);
    EXPECT_FALSE(copy->isEnabled());
    EXPECT_FALSE(copyAll->isEnabled());

    controller().query(QStringLiteral("142.250.7.7"));
    EXPECT_TRUE(copyAll->isEnabled());
    // Nothing selected: the clipboard keeps what it had.
    nib->copySelectedRows();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));

    nib->window()->show();
    nib->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(nib->window()));
    table->setFocus();
    // A click on a cell selects its row; Ctrl+click adds another.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(table->model()->index(3, 1)).center());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      table->visualRect(table->model()->index(0, 0)).center());
    EXPECT_TRUE(copy->isEnabled());
    QTest::keySequence(table, QKeySequence::Copy);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("IP\t142.250.7.7\n城市\t上海\n"));

    copyAll->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QStringLiteral("IP\t142.250.7.7\n国家\t中国\n地区\t华东\n城市\t上海\n运营商\t电信\n"));
}

// Every push button an assistive technology finds in the window has a name.
TEST_F(WindowTest, ClearButtonIsNamed)
{
    nib->window()->show();
    nib->ipTextField()->setText(QStringLiteral("142.250.7.7")); // the clear button shows only over some text

    QStringList buttonNames;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        if (node->role() == QAccessible::Button && !node->state().invisible)
            buttonNames << node->text(QAccessible::Name);
        for (int i = 0; i < node->childCount(); ++i)
            walk(node->child(i));
    };
    walk(QAccessible::queryAccessibleInterface(nib->window()));
    EXPECT_EQ(buttonNames, (QStringList { QStringLiteral("清除"), QStringLiteral("查询") }));
}

} // namespace
