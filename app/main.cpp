#include <QApplication>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>

#include "commandline.h"
#include "form1.h"
#include "historywriter.h"
#include "logcategories.h"
#include "mqttpublisher.h"
#include "programfolder.h"
#include "snapshotfile.h"
#include "stopsignals.h"

using namespace meterlog;

namespace {

QStringList argumentsOf(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

} // namespace

int main(int argc, char *argv[])
{
    // The command line is read before anything else: a bad one ends the program with no window,
    // no port and no file touched.
    const auto parsed = parseCommandLine(argumentsOf(argc, argv));
    if (const auto *exit = std::get_if<EarlyExit>(&parsed)) {
        std::fputs(qPrintable(exit->text + (exit->text.endsWith(u'\n') ? "" : "\n")),
            exit->exitCode == 0 ? stdout : stderr);
        return exit->exitCode;
    }
    const auto &options = std::get<ProgramOptions>(parsed);

    useLogFormat();
    if (options.trace)
        QLoggingCategory::setFilterRules(QStringLiteral("meterlog.frames.debug=true"));
    // Without a window there is no need for a display either.
    if (options.headless)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The user's data folder is named after the program, whatever its file is called.
    QCoreApplication::setApplicationName(QStringLiteral("meterlog"));
    QCoreApplication::setApplicationVersion(QStringLiteral(METERLOG_VERSION));

    const QString programFolder = QCoreApplication::applicationDirPath();
    const bool installed = QFileInfo(programFolder).canonicalFilePath()
        == QFileInfo(QStringLiteral(METERLOG_INSTALLED_BINDIR)).canonicalFilePath();
    const auto folder
        = chooseFolder(options.folder, installed ? std::nullopt : std::optional(programFolder),
            QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    qCInfo(lcFile).noquote() << "meterlog" << METERLOG_VERSION << "writes"
                             << snapshotPath(folder.folder) + u',' << "in" << folder.reason;
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
        mqtt = std::make_unique<MqttPublisher>(*options.mqtt);
        QObject::connect(&window, &Form1::summarized, &window,
            [&mqtt](const Reading &reading) { mqtt->publishReading(reading); });
        QObject::connect(&window, &Form1::registersRead, &window,
            [&mqtt](const RegisterBlock &block) { mqtt->publishRegisters(block); });
    }

    onStopSignals(&window, [&] {
        window.close();
        QCoreApplication::quit();
    });
    if (!options.headless)
        window.show();
    return app.exec();
}
