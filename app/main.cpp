#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "app/busscancommand.h"
#include "app/commandline.h"
#include "app/findmetersmenu.h"
#include "app/form1.h"
#include "app/programfolder.h"
#include "app/readingsmenu.h"
#include "app/runreport.h"
#include "app/stopsignals.h"
#include "common/journalstream.h"
#include "common/logcategories.h"
#include "publish/historywriter.h"
#include "publish/metricsserver.h"
#include "publish/mqttpublisher.h"
#include "readings/readingswindow.h"

using namespace meterlog;

namespace {

QStringList argumentsOf(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

const char *const noDisplayLine = "meterlog: no display: use --headless\n";

// Whether a window could be shown at all: a platform that draws on a display (X11, Wayland) needs
// one to be named. Other platforms (offscreen, a frame buffer) need none.
bool displayNamed()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith(u"xcb") && !platform.startsWith(u"wayland"))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

// A display that is named but cannot be reached ends Qt's start with a fatal error and a core
// dump; meterlog ends as for any start that cannot work.
QtMessageHandler qtsOwnHandler = nullptr;

void endAtNoDisplay(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtFatalMsg) {
        qtsOwnHandler(type, context, message);
        return;
    }
    std::fputs(noDisplayLine, stderr);
    std::fflush(stderr);
    std::_Exit(badCommandLineExitCode);
}

// Where the snapshot file and the comN links are; the application object must exist.
FolderChoice folderFor(const ProgramOptions &options)
{
    // The user's data folder is named after the program, whatever its file is called.
    QCoreApplication::setApplicationName(QStringLiteral("meterlog"));
    const QString programFolder = QCoreApplication::applicationDirPath();
    const bool installed = QFileInfo(programFolder).canonicalFilePath()
        == QFileInfo(QStringLiteral(METERLOG_INSTALLED_BINDIR)).canonicalFilePath();
    return chooseFolder(options.folder, installed ? std::nullopt : std::optional(programFolder),
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

} // namespace

int main(int argc, char *argv[])
{
    // The command line is read before anything else: a bad one ends the program with no window,
    // no port and no file touched.
    const auto parsed = parseCommandLine(argumentsOf(argc, argv));
    if (const auto *exit = std::get_if<EarlyExit>(&parsed)) {
        const bool refused = exit->exitCode != 0;
        // To the journal a refusal is an error (syslog level 3), as a trouble logged later is.
        const QString level = refused && stderrIsJournal() ? QStringLiteral("<3>") : QString();
        std::fputs(qPrintable(level + exit->text + (exit->text.endsWith(u'\n') ? "" : "\n")),
            refused ? stderr : stdout);
        return exit->exitCode;
    }
    const auto &options = std::get<ProgramOptions>(parsed);

    useLogFormat();
    if (options.trace)
        QLoggingCategory::setFilterRules(QStringLiteral("meterlog.frames.debug=true"));
    if (options.scan) {
        QCoreApplication app(argc, argv);
        return runBusScanCommand(options, folderFor(options).folder);
    }
    // Without a window there is no need for a display either.
    if (options.headless)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else if (!displayNamed()) {
        std::fputs(noDisplayLine, stderr);
        return badCommandLineExitCode;
    }
    qtsOwnHandler = qInstallMessageHandler(endAtNoDisplay);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtsOwnHandler);
    QCoreApplication::setApplicationVersion(QStringLiteral(METERLOG_VERSION));

    const auto folder = folderFor(options);
    qCInfo(lcRun).noquote() << startLine(options, folder);
    // Listening comes before the window opens the port: an address that cannot be had ends the
    // start with nothing opened or written.
    std::unique_ptr<MetricsServer> metrics;
    if (options.metrics) {
        metrics
            = std::make_unique<MetricsServer>(*options.metrics, meterTypesOfLine(options.start));
        QString failure;
        if (!metrics->start(failure)) {
            qCCritical(lcRun).noquote() << failure;
            return 1;
        }
        qCInfo(lcRun).noquote() << QStringLiteral("serving metrics at http://%1:%2/metrics")
                                       .arg(options.metrics->host.contains(u':')
                                               ? u'[' + options.metrics->host + u']'
                                               : options.metrics->host)
                                       .arg(metrics->port());
    }
    QElapsedTimer running;
    running.start();
    Form1 window(folder.folder, options.start);
    window.Form_Load();

    // What leaves the machine besides the snapshot file, when asked for. Made after the window, so
    // that they go first at the end: the broker hears "offline" while the window still stands.
    std::unique_ptr<HistoryWriter> history;
    if (options.historyFolder) {
        history = std::make_unique<HistoryWriter>(
            *options.historyFolder, options.historyEvery, options.historyDays);
        QObject::connect(&window, &Form1::summarized, history.get(), &HistoryWriter::takeReading);
    }
    std::unique_ptr<MqttPublisher> mqtt;
    if (options.mqtt) {
        std::optional<Discovery> discovery;
        if (options.mqttDiscovery) {
            discovery.emplace(*options.mqttDiscovery, options.mqtt->prefix, options.start.port,
                meterTypesOfLine(options.start), meterLabels(options.start));
        }
        mqtt = std::make_unique<MqttPublisher>(
            *options.mqtt, std::move(discovery), BrokerPacing {}, meterLabels(options.start));
        QObject::connect(&window, &Form1::summarized, &window,
            [&mqtt](const Reading &reading) { mqtt->publishReading(reading); });
        QObject::connect(&window, &Form1::registersRead, &window,
            [&mqtt](const RegisterBlock &block) { mqtt->publishRegisters(block); });
    }

    if (metrics) {
        QObject::connect(&window, &Form1::summarized, &window,
            [&metrics](const Reading &reading) { metrics->takeReading(reading); });
    }

    std::unique_ptr<ReadingsWindow> readings;
    if (!options.headless) {
        std::optional<HistorySource> historySource;
        if (options.historyFolder)
            historySource = HistorySource {*options.historyFolder, options.historyEvery};
        readings = std::make_unique<ReadingsWindow>(
            meterTypesOfLine(options.start), historySource, meterLabels(options.start));
        QObject::connect(&window, &Form1::summarized, readings.get(), &ReadingsWindow::takeReading);
        // First, so that About stays the menu's last entry.
        new FindMetersMenu(window);
        auto *menu = new ReadingsMenu(window, *readings);
        if (options.readings) {
            readings->setSpan(*options.readings);
            QTimer::singleShot(0, menu, &ReadingsMenu::openReadings);
        }
    }

    QString stoppedBy = QStringLiteral("its window was closed");
    onStopSignals(&window, [&](const QString &signal) {
        stoppedBy = signal;
        window.close();
        QCoreApplication::quit();
    });
    if (!options.headless)
        window.show();
    const int exitCode = app.exec();
    qCInfo(lcRun).noquote() << stopLine(std::chrono::milliseconds(running.elapsed()), stoppedBy);
    return exitCode;
}
