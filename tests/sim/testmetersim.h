// meter-sim seen from outside: its documented register map through independent masters, on the
// pseudo-terminal and behind its simulated gateways, byte-level replies against frames whose CRCs
// come from another implementation, its faults, and the life of its link and its gateway.
#pragma once

#include "tests/sim/masters.h"
#include "tests/support/metersimprocess.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>

namespace testTimeouts {
// Long enough for a reply on a busy machine; an expected silence costs this much each time.
constexpr double answerSeconds = 2.0;
constexpr double silenceSeconds = 0.3;
// The master limit the slow fault is meant to exceed.
constexpr double masterLimitSeconds = 0.5;
constexpr int linkChangeMs = 5000;
} // namespace testTimeouts

// mbpoll's words for a request nobody answered.
inline const QString mbpollTimedOut = QStringLiteral("Connection timed out");

// How a master reaches the meters: the names tests give the simulator's links.
namespace simLink {
inline const QString pseudoTerminal = QStringLiteral("pseudo-terminal");
inline const QString modbusTcp = QStringLiteral("tcp");
inline const QString rtuOverTcp = QStringLiteral("rtu+tcp");
inline const QStringList all {pseudoTerminal, modbusTcp, rtuOverTcp};
} // namespace simLink

// The simulator's options for the link (a gateway on a free port), then those of commandLine.
QStringList simOptionsOn(const QString &link, const char *commandLine);

// Reads the block a master reads by default, start 4011 count 12, with the master for the link.
MasterReading readDefaultBlock(const MeterSimProcess &sim, int meter, double timeoutSeconds);

class TestMeterSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    // The register map and the protocol, from a healthy simulator (tst_metersim.cpp).
    void documentedStaticValues_data();
    void documentedStaticValues();
    void blocksAtTheEdgesOfTheMap_data();
    void blocksAtTheEdgesOfTheMap();
    void onlyFunctionThreeIsServed();
    void typedMetersAnswerAsTheirTypesSay();
    void aLineOfMoreMeters();
    void typedMeterKeepsToItsLimitPerRead_data();
    void typedMeterKeepsToItsLimitPerRead();
    void otherAddressesGetNoAnswer_data();
    void otherAddressesGetNoAnswer();
    void byteLevelReplies_data();
    void byteLevelReplies();

    // Faults and values over time (faulttests.cpp).
    void silentAndBadCrcMetersLeaveTheOthersAnswering();
    void faultsShapeTheReplyBytes_data();
    void faultsShapeTheReplyBytes();
    void slowMeterAnswersOnlyAfterTheMastersLimit();
    void promptMeterAnswersWhileASlowReplyIsPending();
    void valuesMoveWithTimeWithoutStatic();

    // The link to the pseudo-terminal (linktests.cpp).
    void stopSignalRemovesTheLink_data();
    void stopSignalRemovesTheLink();
    void staleLinkIsReplaced();
    void fileInTheWayIsLeftAlone();
    void cablePullDropsTheLineAndComesBackOnANewDevice();

    // Behind the simulated gateways (gatewaytests.cpp).
    void gatewayAnswersForItsMeters_data();
    void gatewayAnswersForItsMeters();
    void mbapRepliesMatchTheirRequests_data();
    void mbapRepliesMatchTheirRequests();
    void malformedMbapIsDroppedAndTheConnectionGoesOn_data();
    void malformedMbapIsDroppedAndTheConnectionGoesOn();
    void dropFaultClosesTheConnection_data();
    void dropFaultClosesTheConnection();
    void gatewayRestartRefusesThenAcceptsAgain_data();
    void gatewayRestartRefusesThenAcceptsAgain();
    void clientsAtOnceEachGetTheirOwnReply_data();
    void clientsAtOnceEachGetTheirOwnReply();

private:
    const MeterSimProcess &healthy(const QString &link) const { return *m_healthy.at(link); }

    // Simulators started with --static, one per link.
    std::map<QString, std::unique_ptr<MeterSimProcess>> m_healthy;
};
