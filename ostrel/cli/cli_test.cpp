// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/cli/CommandLine.h"
#include "ostrel/cli/HistoryCommands.h"
#include "ostrel/cli/TerminalView.h"
#include "ostrel/engine/Panel.h"
#include "ostrel/engine/RunLock.h"
#include "ostrel/engine/Scores.h"
#include "ostrel/extended/ExtendedRun.h"
#include "ostrel/extended/ExtendedTests.h"
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/ResultsDocument.h"
#include "ostrel/run/RunSession.h"
#include "ostrel/testing/CapturedOutput.h"
#include "ostrel/testing/SampleRuns.h"
#include "platform/UserDefaults.h"
#include "platform/Version.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>

using namespace ostrel;

using cli::testing::readAll;

namespace {

// What standard error says of arguments that were refused; empty when they were taken.
QString refusal(const platform::Result<cli::Options, cli::Exit>& parsed)
{
    return parsed || parsed.error().status != cli::kExitBadArguments ? QString() : parsed.error().text;
}

QString refusalText(const QString& reason)
{
    return reason.isEmpty() ? QString() : QStringLiteral("ostrel-cli: %1\nTry 'ostrel-cli --help'.\n").arg(reason);
}

} // namespace

TEST(CommandLine, Arguments)
{
    using Mode = cli::Options::Mode;
    const struct
    {
        QStringList arguments;
        Mode mode;
        bool json;
        int runs;
        QString file;
        QString error;
        QString prometheusFile = {};
    } cases[] = {
        { {}, Mode::Run, false, 1, {}, {} },
        { { "--json" }, Mode::Run, true, 1, {}, {} },
        { { "--runs", "5", "--json" }, Mode::Run, true, 5, {}, {} },
        { { "--runs=3" }, Mode::Run, false, 3, {}, {} },
        { { "--history", "--json" }, Mode::History, true, 1, {}, {} },
        { { "--history", "--csv" }, Mode::History, false, 1, {}, {} },
        { { "--export", "a.json", "--all" }, Mode::Export, false, 1, "a.json", {} },
        { { "--compare", "b.json" }, Mode::Compare, false, 1, "b.json", {} },
        { { "--jsn" }, Mode::Run, false, 1, {}, "Unknown option 'jsn'." },
        { { "--json", "disk" }, Mode::Run, true, 1, {}, "unexpected argument: disk" },
        { { "--runs", "0" }, Mode::Run, false, 0, {}, "--runs needs a whole number of at least 1, not '0'" },
        { { "--runs", "x" }, Mode::Run, false, 0, {}, "--runs needs a whole number of at least 1, not 'x'" },
        { { "--export" }, Mode::Run, false, 1, {}, "Missing value after '--export'." },
        { { "--history", "--compare", "b" },
          Mode::Compare,
          false,
          1,
          "b",
          "--history and --compare cannot be used together" },
        { { "--history", "--runs", "2" }, Mode::History, false, 2, {}, "--history and --runs cannot be used together" },
        { { "--csv" }, Mode::Run, false, 1, {}, "--csv goes with --history" },
        { { "--history", "--csv", "--json" }, Mode::History, true, 1, {}, "--csv and --json cannot be used together" },
        { { "--all" }, Mode::Run, false, 1, {}, "--all goes with --export" },
        { { "--compare", "b", "--json" }, Mode::Compare, true, 1, "b", "--json goes with a run or --history" },
        { { "--prometheus", "o.prom" }, Mode::Prometheus, false, 1, {}, {}, "o.prom" },
        { { "--prometheus", "o.prom", "--runs", "3" }, Mode::Run, false, 3, {}, {}, "o.prom" },
        { { "--json", "--prometheus=o.prom" }, Mode::Run, true, 1, {}, {}, "o.prom" },
        { { "--prometheus" }, Mode::Run, false, 1, {}, "Missing value after '--prometheus'." },
        { { "--history", "--prometheus", "o.prom" },
          Mode::History,
          false,
          1,
          {},
          "--history and --prometheus cannot be used together" },
        { { "--export", "a.json", "--prometheus", "o.prom" },
          Mode::Export,
          false,
          1,
          "a.json",
          "--export and --prometheus cannot be used together" },
        { { "--extended", "--json" }, Mode::Run, true, 1, {}, {} },
        { { "--extended", "--disk-folder", "/srv" }, Mode::Run, false, 1, {}, {} },
        { { "--disk-folder", "/srv" }, Mode::Run, false, 1, {}, "--disk-folder goes with --extended" },
        { { "--extended", "--disk-folder=" }, Mode::Run, false, 1, {}, "--disk-folder needs a folder" },
        { { "--history", "--extended" }, Mode::History, false, 1, {}, "--extended goes with a run" },
    };
    for (const auto& c : cases) {
        const auto parsed = cli::parseArguments(QStringList { QStringLiteral("ostrel-cli") } + c.arguments);
        const std::string trace = c.arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(refusal(parsed), refusalText(c.error)) << trace;
        if (!c.error.isEmpty())
            continue;
        const cli::Options& options = *parsed;
        EXPECT_EQ(options.mode, c.mode) << trace;
        EXPECT_EQ(options.json, c.json) << trace;
        EXPECT_EQ(options.runs, c.runs) << trace;
        EXPECT_EQ(options.file, c.file) << trace;
        EXPECT_EQ(options.prometheusFile, c.prometheusFile) << trace;
    }
    const auto extended = cli::parseArguments({ "ostrel-cli", "--extended", "--disk-folder", "/srv" });
    ASSERT_TRUE(extended);
    EXPECT_TRUE(extended->extended);
    EXPECT_EQ(extended->diskFolder, QStringLiteral("/srv"));
    EXPECT_FALSE(cli::parseArguments({ "ostrel-cli", "--json" })->extended);

    // --help and --version end the command line with their text for standard output, once the arguments are good.
    const QString version = QStringLiteral("ostrel-cli ") + QLatin1String(platform::kVersion) + QLatin1Char('\n');
    for (const auto& [arguments, text] :
         { std::pair { QStringList { "-h" }, cli::usage() },
           std::pair { QStringList { "--help", "--json" }, cli::usage() },
           std::pair { QStringList { "--version", "--help" }, cli::usage() },
           std::pair { QStringList { "--version" }, version }, std::pair { QStringList { "-v" }, version },
           std::pair { QStringList { "-h", "--csv" }, QString() } }) {
        const auto parsed = cli::parseArguments(QStringList { QStringLiteral("ostrel-cli") } + arguments);
        const std::string trace = arguments.join(QLatin1Char(' ')).toStdString();
        ASSERT_FALSE(parsed) << trace;
        EXPECT_EQ(parsed.error().status, text.isEmpty() ? cli::kExitBadArguments : cli::kExitSuccess) << trace;
        if (!text.isEmpty()) {
            EXPECT_EQ(parsed.error().text, text) << trace;
        }
    }
}

TEST(CommandLine, RunsUntilSteady)
{
    const struct
    {
        const char* value;
        bool untilSteady;
        int runs;
        QString error;
    } cases[] = {
        { "auto", true, 10, {} },
        { "auto:3", true, 3, {} },
        { "auto:25", true, 25, {} },
        { "4", false, 4, {} },
        { "auto:2", true, 2, "--runs auto:MAX needs a whole number of at least 3 for MAX, not 'auto:2'" },
        { "auto:", true, 0, "--runs auto:MAX needs a whole number of at least 3 for MAX, not 'auto:'" },
        { "auto:x", true, 0, "--runs auto:MAX needs a whole number of at least 3 for MAX, not 'auto:x'" },
        { "auto:5:6", true, 0, "--runs auto:MAX needs a whole number of at least 3 for MAX, not 'auto:5:6'" },
        { "automatic", false, 0, "--runs needs a whole number of at least 1, not 'automatic'" },
    };
    for (const auto& c : cases) {
        const auto parsed = cli::parseArguments({ "ostrel-cli", "--runs", c.value });
        EXPECT_EQ(refusal(parsed), refusalText(c.error)) << c.value;
        if (!c.error.isEmpty())
            continue;
        const cli::Options& options = *parsed;
        EXPECT_EQ(options.untilSteady, c.untilSteady) << c.value;
        EXPECT_EQ(options.runs, c.runs) << c.value;
    }
    EXPECT_EQ(refusal(cli::parseArguments({ "ostrel-cli", "--history", "--runs", "auto" })),
              refusalText(QStringLiteral("--history and --runs cannot be used together")));
}

TEST(CommandLine, ExitStatusAndMessagesAtTheEndOfARun)
{
    const QString store = QStringLiteral("/home/u/.config/ostrel/ostrel.conf");
    const QString disk = QStringLiteral("磁盘读写失败：磁盘空间不足");
    const QString unsaved = QStringLiteral("the results could not be saved to %1: 没有权限").arg(store);
    const struct
    {
        bool finished;
        bool diskFailed;
        std::optional<int> saveError;
        int status;
        QStringList messages;
    } cases[] = {
        { true, false, {}, 0, {} },
        { true, true, {}, 3, { disk } },
        { true, false, EACCES, 3, { unsaved } },
        { true, true, EACCES, 3, { disk, unsaved } },
        { false, false, {}, 130, {} },
        // A stopped run still says what it could not save.
        { false, false, EACCES, 130, { unsaved } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.finished << c.diskFailed << c.saveError.value_or(0));
        FiveTests::Problems found { .failedStage = std::nullopt, .saveError = c.saveError };
        if (c.diskFailed)
            found.failedStage
                = StageFailure { .kind = &kTestKinds[4], .error = std::error_code(ENOSPC, std::generic_category()) };
        const cli::RunEnd end
            = cli::runEnd({ .finished = c.finished, .problems = run::runProblems(c.finished, found, store) });
        EXPECT_EQ(end.exitStatus, c.status);
        EXPECT_EQ(end.messages, c.messages);
    }
}

TEST(TerminalView, PlainLinesWhenNotATerminal)
{
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    Panel panel;
    {
        cli::TerminalView view(panel, out, false);
        panel.testingState.setText(QStringLiteral("正在测试 整数运算"));
        panel.testingProgress.setValue(5.0);
        showScore(panel.intScoreProgress, panel.intScoreLabel, 87.5);
        panel.testingState.setText(QStringLiteral("正在测试 浮点运算"));
        showScore(panel.diskScoreProgress, panel.diskScoreLabel, 61.25);
        showOverallScore(panel);
        panel.lastTime.setText(QStringLiteral("上次性能测试：2026年12月8日 13:20"));
        QCoreApplication::sendPostedEvents();
        view.printSummary();
    }
    EXPECT_EQ(readAll(out),
              QStringLiteral("正在测试 整数运算\n整数运算：87分 (87.50)\n正在测试 浮点运算\n磁盘读写：61分 (61.25)\n"
                             "总分：29分 (29.75)\n上次性能测试：2026年12月8日 13:20\n"));
    std::fclose(out);
}

TEST(TerminalView, LiveBarOnATerminal)
{
    std::FILE* out = std::tmpfile();
    Panel panel;
    cli::TerminalView view(panel, out, true);
    panel.testingState.setText(QStringLiteral("正在测试 整数运算"));
    panel.testingProgress.setValue(50.0);
    QCoreApplication::sendPostedEvents();
    const QString shown = readAll(out);
    EXPECT_TRUE(shown.endsWith(QStringLiteral("\r\x1b[K正在测试 整数运算 [###############               ]  50%")))
        << qPrintable(shown);
    EXPECT_FALSE(shown.contains(QLatin1Char('\n')));
    std::fclose(out);
}

// What ostrel-cli --json tells of the run it has just run: its scores, overall score and time, the panel's last-run
// line and its problems beside its extended results, and none of the members only a kept run has.
TEST(RunReport, ScoresOverallTimeAndProblems)
{
    history::RunRecord run = history::testing::sampleExtendedRun(1796707200.25);
    run.scores[0] = 87.5;
    run.scores[4] = 80.0;
    const QJsonObject report = history::runReportToJson(run, QStringLiteral("上次性能测试：x"), { "a", "b" });
    const QJsonObject scores = report[QStringLiteral("scores")].toObject();
    EXPECT_EQ(scores.size(), 5);
    EXPECT_EQ(scores[QStringLiteral("int")].toDouble(), 87.5);
    EXPECT_EQ(scores[QStringLiteral("disk")].toDouble(), 80.0);
    EXPECT_EQ(report[QStringLiteral("overall")].toDouble(), run.overall);
    EXPECT_EQ(report[QStringLiteral("lastTime")].toDouble(), 1796707200.25);
    EXPECT_EQ(report[QStringLiteral("lastTimeText")].toString(), QStringLiteral("上次性能测试：x"));
    EXPECT_EQ(report[QStringLiteral("problems")].toArray(), (QJsonArray { "a", "b" }));
    // One member for each extended test of the run, whatever rows the table has.
    QStringList members { "interference", "lastTime", "lastTimeText", "overall", "problems", "scores" };
    for (const ExtendedKind& kind : extendedTests()) {
        if (run.extended.find(kind.key))
            members << kind.key;
    }
    members.sort();
    EXPECT_EQ(report.keys(), members);
}

TEST(TerminalView, ExtendedLinesWithTheirDetailsIndented)
{
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    Panel panel;
    ExtendedPanel shown;
    {
        cli::TerminalView view(panel, out, false);
        view.showExtended(shown);
        resetExtendedPanel(shown);
        shown.lineOf(QStringLiteral("multicore"))->line.setText(QStringLiteral("多核：2 线程，加速 1.98 倍"));
        shown.lineOf(QStringLiteral("multicore"))->details.setText(QStringLiteral("a\nb"));
        shown.lineOf(QStringLiteral("disk"))
            ->line.setText(QStringLiteral("磁盘：未能测试，未找到 fio（Debian 软件包 fio）"));
        shown.lineOf(QStringLiteral("disk"))->details.setText(QString());
        QCoreApplication::sendPostedEvents();
    }
    EXPECT_EQ(
        readAll(out),
        QStringLiteral("多核：2 线程，加速 1.98 倍\n  a\n  b\n磁盘：未能测试，未找到 fio（Debian 软件包 fio）\n"));
    std::fclose(out);
}

TEST(RunReport, ExtendedResultsInTheirJsonShape)
{
    // The report's members, as ostrel-cli --json adds them.
    const auto report = [](const QString& key, const auto& result) {
        ExtendedResults results;
        results.set(key, result);
        QJsonObject object;
        history::insertExtended(object, results);
        return QJsonDocument(object.value(key).toObject()).toJson(QJsonDocument::Compact);
    };
    const MulticoreResult multicore { 2, { 1.5, 2.5, 3.5 }, { 1.9, 1.8, 2.0 }, 1.8995 };
    EXPECT_EQ(report(QStringLiteral("multicore"), multicore),
              QByteArray(R"({"elapsed":{"double":2.5,"int":1.5,"pi":3.5},)"
                         R"("speedup":{"double":1.8,"int":1.9,"overall":1.8995,"pi":2},"threads":2})"));

    DiskResult disk;
    disk.folder = QStringLiteral("/srv");
    disk.fileSystem = QStringLiteral("xfs");
    disk.direct = false;
    disk.fileBytes = 1LL << 30;
    disk.seqRead.mbps = 2900.5;
    disk.seqWrite.mbps = 1200;
    disk.randRead = { 73.7, 18000 };
    disk.randWrite = { 36.9, 9000 };
    EXPECT_EQ(report(QStringLiteral("disk"), disk),
              QByteArray(R"({"direct":false,"fileBytes":1073741824,"fileSystem":"xfs","folder":"/srv",)"
                         R"("randRead":{"iops":18000,"mbps":73.7},"randWrite":{"iops":9000,"mbps":36.9},)"
                         R"("seqRead":{"mbps":2900.5},"seqWrite":{"mbps":1200}})"));
}

TEST(OstrelCli, HelpVersionAndBadArguments)
{
    QProcess help;
    help.start(QStringLiteral(OSTREL_CLI), { QStringLiteral("--help") });
    ASSERT_TRUE(help.waitForFinished(30000));
    EXPECT_EQ(help.exitCode(), 0);
    const QByteArray usage = help.readAllStandardOutput();
    EXPECT_TRUE(usage.startsWith("Usage: ostrel-cli"));
    // The extended tests' words come from their table: every row's help in --extended's paragraph, its key in
    // --json's, whatever the wrapping.
    const auto paragraph = [&](const char* option, const char* next) {
        const qsizetype from = usage.indexOf(option);
        const qsizetype to = usage.indexOf(next, from);
        return from < 0 || to < 0 ? QString() : QString::fromUtf8(usage.mid(from, to - from)).simplified();
    };
    const QString extendedParagraph = paragraph("\n  --extended ", "\n  --disk-folder ");
    const QString jsonParagraph = paragraph("\n  --json ", "\n  --runs N ");
    for (const ExtendedKind& kind : extendedTests()) {
        EXPECT_TRUE(extendedParagraph.contains(kind.help.simplified())) << qPrintable(kind.key) << usage.constData();
        EXPECT_TRUE(jsonParagraph.contains(QLatin1Char('"') + kind.key + QLatin1Char('"'))) << qPrintable(kind.key);
    }

    // One line, "name version", as help2man reads it.
    QProcess version;
    version.start(QStringLiteral(OSTREL_CLI), { QStringLiteral("--version") });
    ASSERT_TRUE(version.waitForFinished(30000));
    EXPECT_EQ(version.exitCode(), 0);
    EXPECT_EQ(version.readAllStandardOutput(), QByteArray("ostrel-cli ") + platform::kVersion + '\n');

    QProcess bad;
    bad.start(QStringLiteral(OSTREL_CLI), { QStringLiteral("--fast") });
    ASSERT_TRUE(bad.waitForFinished(30000));
    EXPECT_EQ(bad.exitCode(), 2);
    EXPECT_TRUE(bad.readAllStandardError().contains("Unknown option 'fast'."));
    EXPECT_TRUE(bad.readAllStandardOutput().isEmpty());
}

TEST(OstrelCli, PrometheusAloneWritesTheLatestRunOfTheHistory)
{
    const QString savedFile = platform::UserDefaults::pathFor(saved::kApplication);
    QFile::remove(savedFile);
    {
        history::HistoryStore store(history::HistoryStore::defaultPath());
        ASSERT_TRUE(store.append(history::testing::sampleExtendedRun(1796707200.0)));
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("ostrel.prom"));
    QProcess cli;
    cli.start(QStringLiteral(OSTREL_CLI), { QStringLiteral("--prometheus"), file });
    ASSERT_TRUE(cli.waitForFinished(30000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly)) << "no run is made: the file is there at once";
    const QByteArray text = written.readAll();
    EXPECT_TRUE(text.contains("ostrel_score{test=\"int\"} 80.125\n"));
    EXPECT_TRUE(text.contains("ostrel_disk_iops{job=\"rand_read\"} 18096.75\n"));
    EXPECT_FALSE(QFile::exists(savedFile)) << "no run saved scores";
}

// Whoever can write the textfile folder must not point the nightly run at another file.
TEST(OstrelCli, PrometheusRefusesALinkAndLeavesItsTargetAlone)
{
    ASSERT_TRUE(
        history::HistoryStore(history::HistoryStore::defaultPath()).append(history::testing::sampleRun(1796707200.0)));
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("other.txt"));
    const QString link = dir.filePath(QStringLiteral("ostrel.prom"));
    {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("precious\n") == 9);
    }
    ASSERT_TRUE(QFile::link(target, link));
    QProcess cli;
    cli.start(QStringLiteral(OSTREL_CLI), { QStringLiteral("--prometheus"), link });
    ASSERT_TRUE(cli.waitForFinished(30000));
    EXPECT_EQ(cli.exitCode(), 3);
    EXPECT_TRUE(cli.readAllStandardOutput().isEmpty());
    const QString error = QString::fromUtf8(cli.readAllStandardError());
    EXPECT_TRUE(error.contains(link) && error.contains(QStringLiteral("符号链接"))) << error.toStdString();
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "precious\n");
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), target);
}

TEST(OstrelCli, CtrlCStopsCleanlyAndKeepsNoHalfRun)
{
    const QString store = platform::UserDefaults::pathFor(saved::kApplication);
    QFile::remove(store);

    QProcess cli;
    cli.start(QStringLiteral(OSTREL_CLI), {});
    ASSERT_TRUE(cli.waitForStarted());
    ASSERT_TRUE(cli.waitForReadyRead(60000));
    EXPECT_TRUE(cli.readLine().startsWith("正在测试 整数运算"));
    RunLock lock;
    EXPECT_FALSE(lock.tryLock());
    EXPECT_EQ(lock.holder(), QStringLiteral("ostrel-cli (PID %1)").arg(cli.processId()));
    ::kill(pid_t(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(60000));
    EXPECT_TRUE(lock.tryLock());

    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 130);
    EXPECT_TRUE(cli.readAllStandardOutput().contains("已停止"));
    // Whatever stages finished are saved; the time of a run that did not end is not.
    EXPECT_FALSE(QSettings(store, QSettings::IniFormat).contains(QStringLiteral("lastTime")));
}

TEST(OstrelCli, NoRunWhileAnotherBenchmarkRunsButTheHistoryCommandsWork)
{
    const QString store = platform::UserDefaults::pathFor(saved::kApplication);
    QFile::remove(store);
    QSettings(store, QSettings::IniFormat).setValue(QStringLiteral("int"), 55.5);
    QFile file(store);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    RunLock lock;
    const platform::Status<RunLockError> taken = lock.tryLock();
    ASSERT_TRUE(taken) << qPrintable(taken.error().message);
    const QString refusal = QStringLiteral("ostrel-cli: 另一个测试正在进行：%1 (PID %2)\n")
                                .arg(QString::fromLocal8Bit(program_invocation_short_name))
                                .arg(::getpid());
    for (const QStringList& arguments : { QStringList {}, QStringList { "--runs", "3", "--json" } }) {
        QProcess cli;
        cli.start(QStringLiteral(OSTREL_CLI), arguments);
        ASSERT_TRUE(cli.waitForFinished(30000));
        EXPECT_EQ(cli.exitCode(), cli::kExitBusy) << qPrintable(arguments.join(' '));
        EXPECT_EQ(QString::fromUtf8(cli.readAllStandardError()), refusal);
        EXPECT_TRUE(cli.readAllStandardOutput().isEmpty());
    }
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);

    QProcess history;
    history.start(QStringLiteral(OSTREL_CLI), { QStringLiteral("--history") });
    ASSERT_TRUE(history.waitForFinished(30000));
    EXPECT_EQ(history.exitCode(), 0);
}

namespace {

// Processes whose working folder is `folder`: fio's, in the disk test's folder.
int processesWorkingIn(const QString& folder)
{
    int count = 0;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (pid.toInt() > 0 && QFileInfo(QStringLiteral("/proc/%1/cwd").arg(pid)).symLinkTarget() == folder)
            ++count;
    }
    return count;
}

// Polls until `done` or the deadline.
bool eventually(const std::function<bool()>& done, std::chrono::seconds within)
{
    const QDeadlineTimer deadline(within);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(100);
    }
    return true;
}

} // namespace

// Killed during the disk test, ostrel-cli takes fio with it and the run keeps
// its five tests in the history; the next run removes the disk test's folder
// that the killed one left, as soon as it holds the run lock. A whole run:
// the five tests and the multi-core test come first.
TEST(OstrelCli, AKillDuringTheDiskTestKeepsTheRunAndTheNextRunClearsUp)
{
    const QString store = platform::UserDefaults::pathFor(saved::kApplication);
    QFile::remove(store);
    history::HistoryStore history(history::HistoryStore::defaultPath());
    const qsizetype runsBefore = history.runs()->size();
    QTemporaryDir disk;
    ASSERT_TRUE(disk.isValid());
    const QStringList arguments { QStringLiteral("--extended"), QStringLiteral("--disk-folder"), disk.path() };
    const auto testFolders
        = [&] { return QDir(disk.path()).entryList({ QStringLiteral("ostrel-disk-*") }, QDir::Dirs | QDir::Hidden); };

    QProcess killed;
    killed.start(QStringLiteral(OSTREL_CLI), arguments);
    ASSERT_TRUE(killed.waitForStarted());
    QString folder;
    ASSERT_TRUE(eventually(
        [&] {
            const QStringList folders = testFolders();
            folder = folders.isEmpty() ? QString() : QDir(disk.path()).filePath(folders.first());
            return !folder.isEmpty() && processesWorkingIn(folder) > 0;
        },
        std::chrono::seconds(500)))
        << "fio never ran: " << killed.readAllStandardError().toStdString();
    ::kill(pid_t(killed.processId()), SIGKILL);
    ASSERT_TRUE(killed.waitForFinished());
    EXPECT_TRUE(eventually([&] { return processesWorkingIn(folder) == 0; }, std::chrono::seconds(5)))
        << "fio outlived ostrel-cli";
    EXPECT_TRUE(QFileInfo(folder).isDir()) << "a killed process removes nothing";

    const history::Result<QList<history::RunRecord>> runs = history.runs();
    ASSERT_TRUE(runs);
    ASSERT_EQ(runs->size(), runsBefore + 1);
    const history::RunRecord& kept = runs->first();
    platform::UserDefaults defaults(store);
    EXPECT_EQ(kept.finishedAt, defaults.doubleForKey(saved::kLastTimeKey));
    for (std::size_t i = 0; i < kTestKinds.size(); ++i)
        EXPECT_EQ(kept.scores[i], defaults.doubleForKey(QString::fromLatin1(kTestKinds[i].key))) << kTestKinds[i].key;
    EXPECT_FALSE(kept.extended.find(QStringLiteral("disk")));

    QProcess next;
    next.start(QStringLiteral(OSTREL_CLI), arguments);
    ASSERT_TRUE(next.waitForStarted());
    EXPECT_TRUE(eventually([&] { return testFolders().isEmpty(); }, std::chrono::seconds(60)));
    ::kill(pid_t(next.processId()), SIGINT);
    ASSERT_TRUE(next.waitForFinished(60000));
    EXPECT_EQ(next.exitCode(), cli::kExitStopped);
}

// Repeated runs stopped during their second run still report the first: as
// JSON that run, its figures and "stopped", or the summary text; exit 130.
TEST(OstrelCli, StoppedRunsStillReportTheRunsThatFinished)
{
    const struct
    {
        QStringList arguments;
        // The report's member with the figures; none for the text.
        QString figures;
    } cases[] = {
        { { "--runs", "3", "--json" }, QStringLiteral("summary") },
        { { "--runs", "auto", "--json" }, QStringLiteral("steady") },
        { { "--runs", "3" }, {} },
    };
    const QString store = platform::UserDefaults::pathFor(saved::kApplication);
    for (const auto& c : cases) {
        SCOPED_TRACE(qPrintable(c.arguments.join(' ')));
        QFile::remove(store);
        QProcess cli;
        cli.start(QStringLiteral(OSTREL_CLI), c.arguments);
        ASSERT_TRUE(cli.waitForStarted());
        QByteArray out;
        QByteArray err;
        ASSERT_TRUE(eventually(
            [&] {
                cli.waitForReadyRead(100);
                out += cli.readAllStandardOutput();
                err += cli.readAllStandardError();
                return QString::fromUtf8(c.figures.isEmpty() ? out : err).contains(QStringLiteral("第 2 次测试"));
            },
            std::chrono::seconds(300)));
        ::kill(pid_t(cli.processId()), SIGINT);
        ASSERT_TRUE(cli.waitForFinished(60000));
        out += cli.readAllStandardOutput();
        EXPECT_EQ(cli.exitCode(), cli::kExitStopped);

        if (c.figures.isEmpty()) {
            const QString text = QString::fromUtf8(out);
            EXPECT_TRUE(text.contains(QStringLiteral("1 次测试（分）："))) << qPrintable(text);
            EXPECT_TRUE(text.endsWith(cli::stoppedRunsText(1) + QLatin1Char('\n'))) << qPrintable(text);
            continue;
        }
        QJsonParseError error;
        const QJsonObject report = QJsonDocument::fromJson(out, &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << out.constData();
        EXPECT_EQ(report.value(QStringLiteral("stopped")), QJsonValue(true));
        const QJsonArray runs = report.value(QStringLiteral("runs")).toArray();
        ASSERT_EQ(runs.size(), 1);
        const QJsonObject run = runs.first().toObject();
        EXPECT_EQ(run.value(QStringLiteral("finishedAt")).toDouble(),
                  platform::UserDefaults(store).doubleForKey(saved::kLastTimeKey));
        const QJsonObject figures = report.value(c.figures).toObject();
        if (c.figures == QStringLiteral("summary")) {
            EXPECT_EQ(figures[QStringLiteral("int")][QStringLiteral("median")],
                      run[QStringLiteral("scores")][QStringLiteral("int")]);
        } else {
            EXPECT_EQ(figures.value(QStringLiteral("runs")), QJsonValue(1));
        }
    }
}
