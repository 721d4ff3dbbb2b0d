// Certificates for the tests of TLS, made by Debian's openssl command in a folder of their own:
// an authority, a broker's key with a certificate from it for 127.0.0.1 and another for a
// different host name, and a second authority that signed nothing here.
#pragma once

#include <QString>
#include <QTemporaryDir>

class TestCertificates
{
public:
    TestCertificates();

    // False when the openssl command failed; the paths are then empty files at most.
    bool made() const { return m_made; }
    QString authority() const { return path("authority.pem"); }
    // A PEM file with a private key and no certificate.
    QString authorityKey() const { return path("authority.key"); }
    QString otherAuthority() const { return path("other-authority.pem"); }
    QString brokerKey() const { return path("broker.key"); }
    QString brokerCertificate() const { return path("broker.pem"); }
    QString brokerCertificateForAnotherHost() const { return path("broker-elsewhere.pem"); }

private:
    QString path(const char *name) const { return m_folder.filePath(QString::fromLatin1(name)); }
    bool openssl(const QStringList &arguments) const;

    QTemporaryDir m_folder;
    bool m_made = false;
};
