#include "tests/support/outsidetools.h"

#include <QProcess>
#include <QStandardPaths>

#include <csignal>

#include <sys/prctl.h>

QString missingCommand(const QString &command, const QString &package)
{
    if (!QStandardPaths::findExecutable(command).isEmpty())
        return {};
    return QStringLiteral("%1 is needed: apt-get install %2").arg(command, package);
}

QString missingPythonModule(const QString &module, const QString &package)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), "import " + module});
    if (python.waitForFinished(30000) && python.exitStatus() == QProcess::NormalExit
        && python.exitCode() == 0)
        return {};
    return QStringLiteral("the Python module %1 is needed: apt-get install %2")
        .arg(module, package);
}

void startEndingWithTheTest(QProcess &process, const QString &program, const QStringList &arguments)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.start(program, arguments);
}
