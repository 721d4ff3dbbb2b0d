// meter-sim seen from outside: its documented register map through mbpoll, byte-level replies
// against frames whose CRCs come from another implementation, its faults, and the life of its link.
#pragma once

#include "mbpoll.h"
#include "metersimprocess.h"

#include <QObject>
#include <QString>

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

// Reads the block a master reads by default, start 4011 count 12.
MbpollReading readDefaultBlock(const MeterSimProcess &sim, int meter, double timeoutSeconds);

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

private:
    std::unique_ptr<MeterSimProcess> m_healthy;
};
