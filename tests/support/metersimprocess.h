// Runs meter-sim for a test, with its link in a temporary folder of its own, or behind a simulated
// network gateway (--tcp, --rtu-tcp) on a port the simulator picks.
#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// Splits a command line such as "--static --fault 3:silent" into the simulator's arguments.
QStringList simOptions(const char *commandLine);

class MeterSimProcess
{
public:
    // The link path is <own temporary folder>/<linkName> unless options name one with --link or
    // choose a network gateway, which has no link.
    explicit MeterSimProcess(QStringList options, const QString &linkName = QStringLiteral("com9"));
    ~MeterSimProcess();

    // Starts the simulator and waits for its first "ready" line.
    bool start();
    // Waits until the simulator has printed count "ready" lines in all.
    bool waitForReadyLines(int count);
    // Sends the signal and waits for the simulator to end; false if it does not.
    bool stop(int signalNumber);
    bool waitForExit();

    QString linkPath() const { return m_linkPath; }
    // True while a symbolic link is at the link path, dangling or not.
    bool hasLink() const;
    QString folder() const { return m_folder.path(); }
    // The slave device of each "ready" line so far, in order.
    QStringList slaveDevices() const { return m_slaveDevices; }
    // The gateway's address of each "ready" line so far, such as tcp://127.0.0.1:40123.
    QStringList gatewayAddresses() const { return m_gatewayAddresses; }
    // What a master opens: the link, or the gateway's latest address.
    QString endpoint() const;
    QString errorOutput() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }

private:
    void collectReadyLines();

    QTemporaryDir m_folder;
    QString m_linkPath;
    QStringList m_arguments;
    QProcess m_process;
    QByteArray m_pendingOutput;
    QStringList m_slaveDevices;
    QStringList m_gatewayAddresses;
};
