#include "vantor/MainInterface.h"

#include "ui_MainWindow.h"
#include "vantor/AppDelegate.h"
#include "vantor/ArrayController.h"
#include "vantor/VNQuery.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QNetworkProxyFactory>
#include <QTimer>
#include <QTranslator>

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
    m_appDelegate->setWindow(m_window.get());

    QTableView* table = m_ui->tableView;
    table->setModel(m_arrayController);
    QHeaderView* header = table->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->resizeSection(ArrayController::KeyColumn, 96);
    header->setStretchLastSection(true);

    QObject::connect(m_ui->queryButton, &QPushButton::clicked, m_controller,
                     [controller = m_controller, button = m_ui->queryButton] { controller->query(button); });
    QObject::connect(m_ui->ipTextField, &QLineEdit::returnPressed, m_controller,
                     [controller = m_controller, field = m_ui->ipTextField] { controller->query(field); });

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

QTableView* MainInterface::tableView() const
{
    return m_ui->tableView;
}

void MainInterface::launch()
{
    m_window->show();
    QTimer::singleShot(0, m_controller, &VNQuery::awakeFromNib);
    QTimer::singleShot(0, m_appDelegate.get(), &AppDelegate::applicationDidFinishLaunching);
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
