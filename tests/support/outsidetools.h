// Programs and Python modules from outside the project that some tests need. A test checks for
// them first and fails at once, naming the Debian package to install, instead of timing out.
#pragma once

#include <QProcess>
#include <QString>

// Empty when `command` is on the PATH, else the failure message.
QString missingCommand(const QString &command, const QString &package);
// Empty when Debian's python3 imports `module`, else the failure message.
QString missingPythonModule(const QString &module, const QString &package);

// Starts `program` so that it is killed when the test process ends, however it ends: a test that
// crashes leaves no server behind holding its ports and ctest's output pipes.
void startEndingWithTheTest(
    QProcess &process, const QString &program, const QStringList &arguments);
