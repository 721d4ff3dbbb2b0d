// The register values sim/README.md documents for a simulator started with --static, copied from
// there by hand: the tests compare the running simulator with its documentation, never with a
// second copy of its formulas.
#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

namespace documented {

// mbpoll references are 1-based: protocol address 4011 is reference 4012.
constexpr int blockReference = 4012;
constexpr int blockCount = 12;

// Registers 4011..4022 of meters 1 to 5.
inline const QList<QList<int>> block {
    {2301, 0, 1520, 2297, 2305, 2247, 2251, 2243, 4998, 980, 18, 24683},
    {2312, 0, 3275, 2308, 2315, 4970, 4979, 4964, 5001, 950, 89, 39336},
    {2289, 0, 860, 2294, 2291, 1376, 1373, 1375, 5000, 910, 4, 50733},
    {2318, 0, 12400, 2321, 2316, 19174, 19149, 19190, 4999, 930, 374, 8442},
    {63504, 6, 9384, 63471, 63526, 22013, 22024, 22005, 5002, 960, 28587, 22480},
};

// Registers 4000..4003: own address, firmware 0x0104, serial number 23110000 + address.
inline QList<int> identity(int meter)
{
    return {meter, 0x0104, 352, 41328 + meter};
}

// Registers 4023..4027 of meter 5: apparent power 419375 VA, reactive power 117425 var, 28.1 °C.
inline const QList<int> meter5Extras {6, 26159, 1, 51889, 281};

// Position within the block of the 32-bit energy counter (registers 4021-4022) and the frequency.
constexpr int energyHighIndex = 10;
constexpr int frequencyIndex = 8;

// The snapshot file a meterlog polling these meters holds, the meters in `silent` never heard from:
// their kW fields keep the labels' first caption "0", and the frequency field is empty while
// meter 5 is silent.
inline QByteArray snapshotFile(const QList<int> &silent = {})
{
    QStringList fields {
        silent.contains(5) ? QString() : QStringLiteral(" %1").arg(block[4][frequencyIndex])};
    for (int meter = 1; meter <= 5; ++meter) {
        const auto &words = block[meter - 1];
        fields << (silent.contains(meter) ? QStringLiteral("0")
                                          : QString::number(qint64(words[1]) * 65536 + words[2]));
    }
    return fields.join(u',').toLatin1() + "\r\n";
}

} // namespace documented
