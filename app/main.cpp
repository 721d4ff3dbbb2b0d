#include <QApplication>

#include <cstdio>

#include "commandline.h"
#include "form1.h"
#include "logcategories.h"
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
    QCoreApplication::setApplicationVersion(QStringLiteral(METERLOG_VERSION));

    const QString folder = options.folder.value_or(QCoreApplication::applicationDirPath());
    qCInfo(lcFile).noquote() << "meterlog" << METERLOG_VERSION << "writes" << snapshotPath(folder);
    Form1 window(folder, options.start);
    window.Form_Load();
    onStopSignals(&window, [&] {
        window.close();
        QCoreApplication::quit();
    });
    if (!options.headless)
        window.show();
    return app.exec();
}
