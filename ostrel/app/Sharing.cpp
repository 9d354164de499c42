// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/app/Sharing.h"

#include "ostrel/engine/Panel.h"
#include "platform/WholeFile.h"
#include "platform/ui/Alert.h"

#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QPointer>
#include <QStandardPaths>

namespace ostrel {

QString resultSentence(const QString& intLabel, const QString& doubleLabel, const QString& piLabel,
                       const QString& memoryLabel, const QString& diskLabel)
{
    return QStringLiteral("我用Kestrune对我的Mac做了性能测试。成绩是：") + intLabel + QStringLiteral("，浮点运算得了")
        + doubleLabel + QStringLiteral("，综合运算") + piLabel + QStringLiteral("，内存读写") + memoryLabel
        + QStringLiteral("，磁盘读写") + diskLabel + QStringLiteral("。你呢？");
}

QString resultSentence(const Panel& panel)
{
    // Each holder hands out its whole text under its lock, so a run writing
    // the labels meanwhile never tears one.
    return resultSentence(panel.intScoreLabel.text(), panel.doubleScoreLabel.text(), panel.piScoreLabel.text(),
                          panel.memoryScoreLabel.text(), panel.diskScoreLabel.text());
}

QUrl mailUrl(const QString& text)
{
    const QByteArray body = QUrl::toPercentEncoding(text);
    return QUrl::fromEncoded("mailto:?body=" + body, QUrl::StrictMode);
}

platform::Status<SaveTextError> saveText(const QString& path, const QString& text)
{
    const platform::Status<platform::FileWriteError> written = platform::writeWholeFile(path, text.toUtf8());
    if (!written)
        return SaveTextError { written.error().reason };
    return platform::Done {};
}

SharingServices SharingServices::desktop()
{
    SharingServices services;
    services.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    services.chooseSaveFile = [](QWidget* parent, const QString& suggestedPath) {
        return QFileDialog::getSaveFileName(parent, QStringLiteral("存储为文本文件"), suggestedPath,
                                            QStringLiteral("文本文件 (*.txt)"));
    };
    return services;
}

namespace {

QString suggestedSavePath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    return QDir(folder).filePath(QStringLiteral("Ostrel 性能测试成绩.txt"));
}

void sendByMail(const QString& text, QWidget* window, const SharingServices& services)
{
    if (!services.openUrl(mailUrl(text))) {
        platform::ui::showAlert(QStringLiteral("无法打开邮件程序。"),
                                QStringLiteral("请先设置默认的邮件程序，或将成绩拷贝后粘贴到邮件中。"), window);
    }
}

void saveAsTextFile(const QString& text, QWidget* window, const SharingServices& services)
{
    const QString path = services.chooseSaveFile(window, suggestedSavePath());
    if (path.isEmpty())
        return;
    if (const platform::Status<SaveTextError> saved = saveText(path, text); !saved) {
        platform::ui::showAlert(
            QStringLiteral("无法存储文本文件。"),
            QStringLiteral("“%1”无法写入：%2").arg(QDir::toNativeSeparators(path), saved.error().reason), window);
    }
}

} // namespace

QMenu* makeSharingPicker(const QString& text, QWidget* parent, const SharingServices& services)
{
    auto* picker = new QMenu(parent);
    picker->setAttribute(Qt::WA_DeleteOnClose);
    picker->setAccessibleName(QStringLiteral("分享"));
    // The window may close while the menu is open.
    QPointer<QWidget> window = parent ? parent->window() : nullptr;

    QAction* copy = picker->addAction(QIcon::fromTheme(QStringLiteral("edit-copy")), QStringLiteral("拷贝"));
    QObject::connect(copy, &QAction::triggered, picker, [text] { QGuiApplication::clipboard()->setText(text); });

    QAction* mail = picker->addAction(QIcon::fromTheme(QStringLiteral("mail-send")), QStringLiteral("邮件"));
    QObject::connect(mail, &QAction::triggered, picker,
                     [text, window, services] { sendByMail(text, window, services); });

    QAction* save
        = picker->addAction(QIcon::fromTheme(QStringLiteral("document-save-as")), QStringLiteral("存储为文本文件…"));
    QObject::connect(save, &QAction::triggered, picker,
                     [text, window, services] { saveAsTextFile(text, window, services); });
    return picker;
}

void showSharingPicker(QMenu* picker, QWidget* sender)
{
    const QPoint senderTopLeft = sender->mapToGlobal(QPoint(0, 0));
    picker->popup(QPoint(senderTopLeft.x() - picker->sizeHint().width(), senderTopLeft.y()));
}

} // namespace ostrel
