#pragma once

// TLS towards a broker: the context libmosquitto is handed (the authorities, the check of the
// broker's name, a record of why its certificate was refused), the words for a handshake that
// failed, and the check of an authorities file before the program starts.

#include <QString>

#include "publish/mqtttarget.h"

struct ssl_ctx_st;
struct x509_store_ctx_st;

namespace meterlog {

class BrokerTls
{
public:
    enum class Purpose {
        Connect, // the broker's certificate is checked as for publishing
        Probe, // the handshake stops once a certificate came: only whether the port speaks TLS
    };
    BrokerTls(const MqttTarget &target, Purpose purpose);
    ~BrokerTls();
    BrokerTls(const BrokerTls &) = delete;
    BrokerTls &operator=(const BrokerTls &) = delete;

    ssl_ctx_st *context() const { return m_context; }

    // What the next handshake meets is recorded afresh.
    void forgetHandshake();
    // libmosquitto logs OpenSSL's errors as text; the first one of a handshake is kept.
    void noteLibraryLog(const char *line);
    bool certificateCame() const { return m_certificateCame; }
    // The words for a handshake that failed, fit to follow "MQTT broker URL ": "has a
    // certificate from an unknown authority: ...".
    QString failure() const;

private:
    static int verify(int verified, x509_store_ctx_st *store);

    MqttTarget m_target;
    Purpose m_purpose;
    ssl_ctx_st *m_context = nullptr;
    // On the network thread only, from one handshake.
    int m_verifyError = 0; // X509_V_OK while the certificate checked out, or none came
    bool m_certificateCame = false;
    unsigned long m_sslError = 0;
};

// Whether the file holds at least one certificate that OpenSSL reads (PEM), and nothing it cannot.
bool holdsCertificate(const QString &path);

} // namespace meterlog
