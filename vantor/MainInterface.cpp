// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/MainInterface.h"

#include "platform/Version.h"
#include "ui_MainWindow.h"
#include "vantor/AppDelegate.h"
#include "vantor/ArrayController.h"
#include "vantor/VNQuery.h"
#include "vantor/net/BundledDatabases.h"
#include "vantor/net/IpInfo.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QNetworkProxyFactory>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <algorithm>

namespace vantor {

namespace {
constexpr char kDesktopId[] = "io.github.vantor.Vantor";
}

MainInterface::MainInterface(ServiceConfig services)
    : m_window(std::make_unique<QMainWindow>())
    , m_ui(std::make_unique<Ui::MainWindow>())
    , m_appDelegate(std::make_unique<AppDelegate>())
{
    m_ui->setupUi(m_window.get());
    m_window->setWindowIcon(QIcon::fromTheme(QLatin1String(kDesktopId), QIcon(QStringLiteral(":/vantor/icon.svg"))));

    m_controller = new VNQuery(std::move(services), m_window.get());
    m_arrayController = new ArrayController(m_controller);
    m_arrayController->setContent(&m_controller->List());
    m_controller->setIpTextField(m_ui->ipTextField);
    m_controller->setArrayController(m_arrayController);
    m_controller->setOwnAddressLabel(m_ui->ownAddressLabel);
    m_controller->setStateLabel(m_ui->stateLabel);
    m_controller->setSourceLabel(m_ui->sourceLabel);
    m_appDelegate->setWindow(m_window.get());

    QTableView* table = m_ui->tableView;
    table->setModel(m_arrayController);
    QHeaderView* header = table->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->resizeSection(ArrayController::KeyColumn, 96);
    header->setStretchLastSection(true);

    // The field's clear button would otherwise reach assistive technology as a push button without a name.
    for (QToolButton* button : m_ui->ipTextField->findChildren<QToolButton*>())
        button->setAccessibleName(QStringLiteral("清除"));

    m_copy = new QAction(QStringLiteral("拷贝"), table);
    m_copy->setShortcut(QKeySequence::Copy);
    m_copy->setShortcutContext(Qt::WidgetShortcut);
    m_copyAll = new QAction(QStringLiteral("拷贝全部"), table);
    table->addAction(m_copy);
    table->addAction(m_copyAll);
    table->setContextMenuPolicy(Qt::ActionsContextMenu);
    QObject::connect(m_copy, &QAction::triggered, m_controller, [this] { copySelectedRows(); });
    QObject::connect(m_copyAll, &QAction::triggered, m_controller, [this] { copyAllRows(); });
    const auto updateCopyActions = [this] {
        m_copy->setEnabled(m_ui->tableView->selectionModel()->hasSelection());
        m_copyAll->setEnabled(m_arrayController->rowCount() > 0);
    };
    QObject::connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, m_copy, updateCopyActions);
    QObject::connect(m_arrayController, &QAbstractItemModel::modelReset, m_copy, updateCopyActions);
    updateCopyActions();

    QObject::connect(m_ui->queryButton, &QPushButton::clicked, m_controller,
                     [controller = m_controller, button = m_ui->queryButton] { controller->query(button); });
    QObject::connect(m_ui->ipTextField, &QLineEdit::returnPressed, m_controller,
                     [controller = m_controller, field = m_ui->ipTextField] { controller->query(field); });

    // Each own address is a link to its lookup; the field keeps what the user typed.
    QObject::connect(m_ui->ownAddressLabel, &QLabel::linkActivated, m_controller,
                     [controller = m_controller](const QString& address) { controller->query(address); });

    QMenu* help = m_window->menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    m_about = help->addAction(QStringLiteral("关于 Vantor(&A)"));
    QObject::connect(m_about, &QAction::triggered, m_window.get(), [window = m_window.get()] {
        QMessageBox::about(window, QStringLiteral("关于 Vantor"), aboutText());
    });

    auto* quit = new QAction(m_window.get());
    quit->setShortcut(QKeySequence::Quit);
    m_window->addAction(quit);
    QObject::connect(quit, &QAction::triggered, m_window.get(), &QWidget::close);

    QObject::connect(qApp, &QCoreApplication::aboutToQuit, m_appDelegate.get(), &AppDelegate::applicationWillTerminate);
}

MainInterface::~MainInterface() = default;

QLineEdit* MainInterface::ipTextField() const
{
    return m_ui->ipTextField;
}

QPushButton* MainInterface::queryButton() const
{
    return m_ui->queryButton;
}

QLabel* MainInterface::ownAddressLabel() const
{
    return m_ui->ownAddressLabel;
}

QLabel* MainInterface::sourceLabel() const
{
    return m_ui->sourceLabel;
}

QLabel* MainInterface::stateLabel() const
{
    return m_ui->stateLabel;
}

QTableView* MainInterface::tableView() const
{
    return m_ui->tableView;
}

void MainInterface::copySelectedRows()
{
    QList<int> selected;
    for (const QModelIndex& index : m_ui->tableView->selectionModel()->selectedIndexes()) {
        if (!selected.contains(index.row()))
            selected << index.row();
    }
    std::sort(selected.begin(), selected.end());
    QList<InfoRow> rows;
    for (int row : selected)
        rows << m_arrayController->arrangedObjects().at(row);
    if (!rows.isEmpty())
        QGuiApplication::clipboard()->setText(rowsAsText(rows));
}

void MainInterface::copyAllRows()
{
    if (!m_arrayController->arrangedObjects().isEmpty())
        QGuiApplication::clipboard()->setText(rowsAsText(m_arrayController->arrangedObjects()));
}

void MainInterface::launch()
{
    m_window->show();
    QTimer::singleShot(0, m_controller, &VNQuery::awakeFromNib);
    QTimer::singleShot(0, m_appDelegate.get(), &AppDelegate::applicationDidFinishLaunching);
}

QString aboutText()
{
    return QStringLiteral("Vantor %1\n\n查询 IP 地址所在的国家、地区、城市和运营商。\n")
               .arg(QLatin1String(platform::kVersion))
        + bundledDataText(bundledDatabases());
}

void configureApplication()
{
    QApplication::setApplicationName(QStringLiteral("Vantor"));
    QApplication::setApplicationDisplayName(QStringLiteral("Vantor"));
    QGuiApplication::setDesktopFileName(QLatin1String(kDesktopId));
    // Qt's own texts, such as the alerts' button, in the user's language when the translations are installed.
    auto* translator = new QTranslator(qApp);
    if (translator->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
    // Users behind a proxy expect the desktop's settings (http_proxy and no_proxy on Linux) to apply.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
}

} // namespace vantor
