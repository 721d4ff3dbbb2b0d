#include "tests/support/testcertificates.h"

#include <QProcess>

namespace {

// Elliptic-curve keys: made in milliseconds, where RSA keys take a good part of a second.
const QStringList newKey {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"};

} // namespace

TestCertificates::TestCertificates()
{
    const auto selfSigned = [&](const char *key, const char *certificate, const char *name) {
        return openssl(QStringList {"req", "-x509"} + newKey
            + QStringList {"-keyout", path(key), "-out", path(certificate), "-days", "2", "-subj",
                QStringLiteral("/CN=%1").arg(name)});
    };
    // Both of the broker's certificates hold the same key; only the name differs.
    const auto brokerFor = [&](const char *certificate, const QString &subjectAltName) {
        return openssl({"req", "-x509", "-key", path("broker.key"), "-out", path(certificate),
            "-days", "2", "-subj", "/CN=meterlog test broker", "-CA", authority(), "-CAkey",
            authorityKey(), "-addext", "subjectAltName=" + subjectAltName, "-addext",
            "basicConstraints=critical,CA:FALSE"});
    };
    m_made = m_folder.isValid()
        && selfSigned("authority.key", "authority.pem", "meterlog test authority")
        && selfSigned("other-authority.key", "other-authority.pem", "another test authority")
        && openssl({"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out",
            path("broker.key")})
        && brokerFor("broker.pem", "IP:127.0.0.1")
        && brokerFor("broker-elsewhere.pem", "DNS:elsewhere.test");
}

bool TestCertificates::openssl(const QStringList &arguments) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start("openssl", arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}
