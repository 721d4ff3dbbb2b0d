#include "publish/brokertls.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <memory>
#include <mutex>

namespace meterlog {

namespace {

// Where a context keeps the BrokerTls it belongs to, for the verify callback.
int ownerIndex()
{
    static int index = -1;
    static std::once_flag once;
    std::call_once(
        once, [] { index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr); });
    return index;
}

bool isUnknownAuthority(int verifyError)
{
    switch (verifyError) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return true;
    default:
        return false;
    }
}

// What OpenSSL says when the other end answered a client hello with something that is not TLS,
// or with nothing before it hung up.
bool isNoTlsAnswer(unsigned long sslError)
{
    if (sslError == 0)
        return true;
    if (ERR_GET_LIB(sslError) != ERR_LIB_SSL)
        return false;
    switch (ERR_GET_REASON(sslError)) {
    case SSL_R_UNEXPECTED_EOF_WHILE_READING:
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
        return true;
    default:
        return false;
    }
}

using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;

} // namespace

BrokerTls::BrokerTls(const MqttTarget &target, Purpose purpose)
    : m_target(target)
    , m_purpose(purpose)
    , m_context(SSL_CTX_new(TLS_client_method()))
{
    SSL_CTX_set_min_proto_version(m_context, TLS1_2_VERSION);
    SSL_CTX_set_ex_data(m_context, ownerIndex(), this);
    SSL_CTX_set_verify(m_context, SSL_VERIFY_PEER, &BrokerTls::verify);
    if (purpose == Purpose::Probe)
        return;
    if (m_target.caFile.isEmpty())
        SSL_CTX_set_default_verify_paths(m_context);
    else
        SSL_CTX_load_verify_file(m_context, QFile::encodeName(m_target.caFile).constData());
    // OpenSSL checks the name as part of the certificate, so a mismatch is a verify error of its
    // own that the callback sees.
    X509_VERIFY_PARAM *check = SSL_CTX_get0_param(m_context);
    const QByteArray host = m_target.host.toUtf8();
    // An address is checked as an address; anything else is a name.
    if (!X509_VERIFY_PARAM_set1_ip_asc(check, host.constData()))
        X509_VERIFY_PARAM_set1_host(check, host.constData(), size_t(host.size()));
    X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    ERR_clear_error();
}

BrokerTls::~BrokerTls()
{
    SSL_CTX_free(m_context);
}

int BrokerTls::verify(int verified, x509_store_ctx_st *store)
{
    const auto *ssl = static_cast<SSL *>(
        X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto *self = static_cast<BrokerTls *>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), ownerIndex()));
    self->m_certificateCame = true;
    if (self->m_purpose == Purpose::Probe)
        return 0;
    if (!verified && self->m_verifyError == X509_V_OK)
        self->m_verifyError = X509_STORE_CTX_get_error(store);
    return verified;
}

void BrokerTls::forgetHandshake()
{
    m_verifyError = X509_V_OK;
    m_certificateCame = false;
    m_sslError = 0;
}

void BrokerTls::noteLibraryLog(const char *line)
{
    // "OpenSSL Error[0]: error:0A000126:SSL routines::unexpected eof while reading"
    static const QByteArray marker("OpenSSL Error[");
    const QByteArray text(line);
    const auto code = text.indexOf(": error:");
    if (m_sslError != 0 || !text.startsWith(marker) || code < 0)
        return;
    bool read = false;
    const auto error = text.mid(code + 8, 8).toULong(&read, 16);
    if (read)
        m_sslError = error;
}

QString BrokerTls::failure() const
{
    if (isUnknownAuthority(m_verifyError)) {
        const QString authorities = m_target.caFile.isEmpty()
            ? QStringLiteral("any of the system's authorities")
            : QStringLiteral("an authority in %1").arg(m_target.caFile);
        return QStringLiteral("has a certificate from an unknown authority: not signed by %1 (%2)")
            .arg(authorities, QString::fromUtf8(X509_verify_cert_error_string(m_verifyError)));
    }
    if (m_verifyError == X509_V_ERR_HOSTNAME_MISMATCH
        || m_verifyError == X509_V_ERR_IP_ADDRESS_MISMATCH)
        return QStringLiteral("has a certificate for another host (host name mismatch): not for %1")
            .arg(m_target.host);
    if (m_verifyError != X509_V_OK)
        return QStringLiteral("has a certificate that is refused: %1")
            .arg(QString::fromUtf8(X509_verify_cert_error_string(m_verifyError)));
    if (!m_certificateCame && isNoTlsAnswer(m_sslError))
        return QStringLiteral("gave no TLS answer on port %1 (a port without TLS? then mqtt://)")
            .arg(m_target.port);
    const char *reason = ERR_reason_error_string(m_sslError);
    return QStringLiteral("failed the TLS handshake: %1")
        .arg(reason ? QString::fromUtf8(reason) : QStringLiteral("no reason given"));
}

bool holdsCertificate(const QString &path)
{
    const Bio file(BIO_new_file(QFile::encodeName(path).constData(), "r"), &BIO_free);
    if (!file)
        return false;
    // The same reading of the file as when the authorities are loaded for a connection.
    STACK_OF(X509_INFO) *entries = PEM_X509_INFO_read_bio(file.get(), nullptr, nullptr, nullptr);
    bool found = false;
    for (int i = 0; entries && i < sk_X509_INFO_num(entries); ++i)
        found = found || sk_X509_INFO_value(entries, i)->x509 != nullptr;
    sk_X509_INFO_pop_free(entries, X509_INFO_free);
    ERR_clear_error();
    return found;
}

} // namespace meterlog
