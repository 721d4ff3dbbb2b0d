#include "publish/brokerlink.h"

#include <mosquitto.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <system_error>

#include "common/logcategories.h"
#include "publish/brokertls.h"

namespace meterlog {

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::seconds keepAlive {30};
// The longest the network thread waits in the library before it looks for a stop.
constexpr std::chrono::milliseconds loopWake {100};
// From the start of an attempt to the broker's answer to CONNECT: a broker whose address drops
// connection attempts, or that takes them and says nothing, fails the attempt after this.
constexpr std::chrono::seconds answerWait {10};
// How long the look at whether a plain port speaks TLS may take.
constexpr std::chrono::seconds probeWait {2};
// A stop waits this long for the broker to take "offline"...
constexpr std::chrono::milliseconds offlineWait {1000};
// ...then this long for the network thread, which needs a wake and a goodbye at most.
constexpr std::chrono::milliseconds goodbyeWait {200};
constexpr std::chrono::milliseconds threadWait {500};
static_assert(offlineWait + threadWait < 2s, "a stop takes under 2 s whatever the broker does");
static_assert(loopWake + goodbyeWait < threadWait);

void initialiseLibraryOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// Library and system words fit to follow a colon: "connection refused".
QString reasonOf(QString text)
{
    if (text.endsWith(u'.'))
        text.chop(1);
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

QString reasonOf(int result, int error)
{
    return reasonOf(result == MOSQ_ERR_ERRNO
            ? QString::fromStdString(std::generic_category().message(error))
            : QString::fromUtf8(mosquitto_strerror(result)));
}

// "Connection Refused: not authorised." says "refused" once too often after "refused the
// connection".
QString refusalOf(int code)
{
    QString text = QString::fromUtf8(mosquitto_connack_string(code));
    const QString said = QStringLiteral("Connection Refused: ");
    if (text.startsWith(said, Qt::CaseInsensitive))
        text.remove(0, said.size());
    return reasonOf(text);
}

bool hasPeer(int socket)
{
    sockaddr_storage peer {};
    socklen_t size = sizeof peer;
    return socket >= 0 && ::getpeername(socket, reinterpret_cast<sockaddr *>(&peer), &size) == 0;
}

} // namespace

std::shared_ptr<BrokerLink> BrokerLink::start(
    const MqttTarget &target, const QByteArray &statusTopic, BrokerPacing pacing)
{
    std::shared_ptr<BrokerLink> link(new BrokerLink(target, statusTopic, pacing));
    // The thread owns the link as well, for when it is left behind.
    link->m_network = std::thread([link] { link->run(); });
    return link;
}

BrokerLink::BrokerLink(const MqttTarget &target, const QByteArray &statusTopic, BrokerPacing pacing)
    : m_target(target)
    , m_described(describeTarget(target))
    , m_statusTopic(statusTopic)
    , m_pacing(pacing)
    , m_unreachable(lcPublish)
{
    initialiseLibraryOnce();
    m_client = mosquitto_new(nullptr, true, this);
    mosquitto_threaded_set(m_client, true);
    const QByteArray offline("offline");
    mosquitto_will_set(
        m_client, m_statusTopic.constData(), int(offline.size()), offline.constData(), 1, true);
    if (!m_target.user.isEmpty()) {
        mosquitto_username_pw_set(m_client, m_target.user.toUtf8().constData(),
            m_target.password.isEmpty() ? nullptr : m_target.password.toUtf8().constData());
    }
    if (m_target.tls) {
        // A context of our own, checked as a whole by us, so that a refused certificate can be
        // told apart from the other failures.
        m_tls = std::make_unique<BrokerTls>(m_target, BrokerTls::Purpose::Connect);
        mosquitto_void_option(m_client, MOSQ_OPT_SSL_CTX, m_tls->context());
        mosquitto_int_option(m_client, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
        mosquitto_log_callback_set(
            m_client, [](mosquitto *, void *self, int level, const char *line) {
                if (level == MOSQ_LOG_ERR)
                    static_cast<BrokerLink *>(self)->m_tls->noteLibraryLog(line);
            });
    }
    mosquitto_connect_callback_set(m_client, [](mosquitto *, void *self, int result) {
        static_cast<BrokerLink *>(self)->onConnect(result);
    });
    mosquitto_publish_callback_set(m_client,
        [](mosquitto *, void *self, int id) { static_cast<BrokerLink *>(self)->onPublish(id); });
}

BrokerLink::~BrokerLink()
{
    // An open connection closes here without a goodbye, so the broker says the will.
    mosquitto_destroy(m_client);
}

void BrokerLink::stop()
{
    if (!m_network.joinable())
        return;
    std::unique_lock lock(m_mutex);
    if (m_connected) {
        sendRetained(m_statusTopic, QByteArrayLiteral("offline"), 1, &m_offlineId);
        m_changed.wait_for(lock, offlineWait, [this] { return m_offlineDelivered; });
    }
    m_stopping = true;
    m_changed.notify_all();
    const bool ended = m_changed.wait_for(lock, threadWait, [this] { return m_ended; });
    lock.unlock();
    // Only a name lookup holds the thread this long; it ends by itself when the lookup does.
    if (ended)
        m_network.join();
    else
        m_network.detach();
}

void BrokerLink::run()
{
    auto pause = m_pacing.firstPause;
    while (const auto failure = attempt()) {
        // An outage starts when a connection the broker accepted ends.
        if (m_accepted)
            pause = m_pacing.firstPause;
        if (!sayUnreachable(*failure) || !waitToRetry(pause))
            break;
        pause = std::min(pause * 2, m_pacing.longestPause);
    }
    leave();
    std::lock_guard lock(m_mutex);
    m_ended = true;
    m_changed.notify_all();
}

std::optional<QString> BrokerLink::attempt()
{
    m_accepted = false;
    m_refusal.reset();
    if (m_tls)
        m_tls->forgetHandshake();
    // The name lookup happens here and may take long; the TCP connection and the handshakes go
    // on in the loop below, which wakes often enough to see a stop.
    int result = mosquitto_connect_async(
        m_client, m_target.host.toUtf8().constData(), m_target.port, int(keepAlive.count()));
    int error = errno;
    const auto answerBy = Clock::now() + answerWait;
    bool tookConnection = false;
    while (result == MOSQ_ERR_SUCCESS) {
        if (stopRequested())
            return std::nullopt;
        result = mosquitto_loop(m_client, int(loopWake.count()), 1);
        error = errno;
        if (m_accepted)
            continue;
        tookConnection = tookConnection || hasPeer(mosquitto_socket(m_client));
        if (result == MOSQ_ERR_SUCCESS && Clock::now() >= answerBy) {
            // The next attempt closes this connection.
            return QStringLiteral("%1 within %2 s")
                .arg(tookConnection ? QStringLiteral("took the connection but did not answer")
                                    : QStringLiteral("did not take the connection"))
                .arg(answerWait.count());
        }
    }
    m_connected = false;
    if (stopRequested())
        return std::nullopt;
    return failureOf(result, error);
}

QString BrokerLink::failureOf(int result, int error)
{
    if (m_refusal)
        return QStringLiteral("refused the connection: %1").arg(refusalOf(*m_refusal));
    if (m_accepted)
        return QStringLiteral("went away: %1").arg(reasonOf(result, error));
    if (m_tls && result == MOSQ_ERR_TLS)
        return m_tls->failure();
    if (result == MOSQ_ERR_CONN_LOST || result == MOSQ_ERR_PROTOCOL) {
        // A TLS port hangs up on the plain CONNECT it cannot read, as a listener that takes
        // connections and drops them does; only a look can tell them apart.
        if (!m_tls && portSpeaksTls())
            return QStringLiteral("speaks TLS on port %1, not plain MQTT: use mqtts://")
                .arg(m_target.port);
        return QStringLiteral("closed the connection without answering (%1)")
            .arg(reasonOf(result, error));
    }
    if (result == MOSQ_ERR_EAI) {
        return QStringLiteral("cannot be reached: no address for %1 (%2)")
            .arg(m_target.host, reasonOf(QString::fromUtf8(gai_strerror(error))));
    }
    return QStringLiteral("cannot be reached: %1").arg(reasonOf(result, error));
}

bool BrokerLink::portSpeaksTls()
{
    if (m_speaksTls)
        return *m_speaksTls;
    // A second client starts a TLS handshake on the same port and stops at the certificate: the
    // port hears a client hello and nothing else.
    BrokerTls tls(m_target, BrokerTls::Purpose::Probe);
    mosquitto *probe = mosquitto_new(nullptr, true, nullptr);
    mosquitto_void_option(probe, MOSQ_OPT_SSL_CTX, tls.context());
    mosquitto_int_option(probe, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
    int result = mosquitto_connect_async(
        probe, m_target.host.toUtf8().constData(), m_target.port, int(keepAlive.count()));
    const auto until = Clock::now() + probeWait;
    while (result == MOSQ_ERR_SUCCESS && !tls.certificateCame() && Clock::now() < until
        && !stopRequested())
        result = mosquitto_loop(probe, int(loopWake.count()), 1);
    mosquitto_destroy(probe);
    m_speaksTls = tls.certificateCame();
    return *m_speaksTls;
}

bool BrokerLink::sayUnreachable(const QString &what)
{
    // Nothing is logged once the program is leaving: a thread left behind may run on while
    // the process ends.
    std::lock_guard lock(m_mutex);
    if (m_stopping)
        return false;
    m_unreachable.persists(
        QStringLiteral("MQTT broker %1 %2; trying again").arg(m_described, what));
    return true;
}

bool BrokerLink::waitToRetry(std::chrono::milliseconds pause)
{
    std::unique_lock lock(m_mutex);
    return !m_changed.wait_for(lock, pause, [this] { return m_stopping; });
}

bool BrokerLink::stopRequested()
{
    std::lock_guard lock(m_mutex);
    return m_stopping;
}

void BrokerLink::leave()
{
    m_connected = false;
    {
        // Without "offline" taken, the connection just closes, and the will says it.
        std::lock_guard lock(m_mutex);
        if (!m_offlineDelivered)
            return;
    }
    mosquitto_disconnect(m_client);
    const auto until = Clock::now() + goodbyeWait;
    while (mosquitto_loop(m_client, int(loopWake.count()), 1) == MOSQ_ERR_SUCCESS
        && Clock::now() < until) { }
}

void BrokerLink::onConnect(int result)
{
    if (result != 0) {
        // The broker refused (a wrong password, say); the loop ends and the attempt says so.
        m_refusal = result;
        return;
    }
    std::lock_guard lock(m_mutex);
    if (m_stopping)
        return;
    m_accepted = true;
    m_speaksTls.reset();
    if (m_unreachable.isOn())
        m_unreachable.cleared(QStringLiteral("MQTT broker %1 connected").arg(m_described));
    else
        qCInfo(lcPublish).noquote() << "publishing to" << m_described;
    sendRetained(m_statusTopic, QByteArrayLiteral("online"), 1);
    // The latest retained values, for those who subscribe from now on.
    for (const auto &[topic, payload] : m_retained)
        sendRetained(topic, payload, 0);
    m_connected = true;
}

void BrokerLink::onPublish(int id)
{
    std::lock_guard lock(m_mutex);
    if (id == m_offlineId) {
        m_offlineDelivered = true;
        m_changed.notify_all();
    }
}

void BrokerLink::sendRetained(const QByteArray &topic, const QByteArray &payload, int qos, int *id)
{
    mosquitto_publish(
        m_client, id, topic.constData(), int(payload.size()), payload.constData(), qos, true);
}

void BrokerLink::publishRetained(const QByteArray &topic, const QByteArray &payload)
{
    std::lock_guard lock(m_mutex);
    // Only a change goes out; an empty payload (a value there is none of, a config removed) is a
    // value like any other.
    if (const auto kept = m_retained.find(topic);
        kept != m_retained.end() && kept->second == payload)
        return;
    m_retained[topic] = payload;
    if (m_connected)
        sendRetained(topic, payload, 0);
}

void BrokerLink::publishOnce(const QByteArray &topic, const QByteArray &payload)
{
    if (m_connected) {
        mosquitto_publish(m_client, nullptr, topic.constData(), int(payload.size()),
            payload.constData(), 0, false);
    }
}

} // namespace meterlog
