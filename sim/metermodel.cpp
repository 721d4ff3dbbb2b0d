#include "sim/metermodel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace meterModel {
namespace {

// What each meter reads at start. Meters 1 to 4 sit on a 230 V network; meter 5 measures an
// 11 kV feeder, so its power needs the high word of the 32-bit register while its currents
// still fit in milliamperes.
struct MeterProfile
{
    std::array<double, 3> phaseVoltageDeciVolts;
    double activePowerWatts;
    double powerFactor;
    double energyWattHours;
    double frequencyCentiHertz;
    std::uint16_t temperatureDeciCelsius;
};

constexpr std::array<MeterProfile, defaultMeterCount> profiles {{
    {{2301, 2297, 2305}, 1520, 0.980, 1'204'331, 4998, 312},
    {{2312, 2308, 2315}, 3275, 0.950, 5'872'040, 5001, 298},
    {{2289, 2294, 2291}, 860, 0.910, 312'877, 5000, 335},
    {{2318, 2321, 2316}, 12400, 0.930, 24'518'906, 4999, 347},
    {{63504, 63471, 63526}, 402600, 0.960, 1'873'500'112, 5002, 281},
}};

// Where each quantity lives; 32-bit quantities take two registers, high word first.
constexpr std::uint16_t deviceAddressRegister = 4000;
constexpr std::uint16_t firmwareVersionRegister = 4001;
constexpr std::uint16_t serialNumberRegister = 4002;
constexpr std::array<std::uint16_t, 3> phaseVoltageRegisters {4011, 4014, 4015};
constexpr std::uint16_t activePowerRegister = 4012;
constexpr std::array<std::uint16_t, 3> phaseCurrentRegisters {4016, 4017, 4018};
constexpr std::uint16_t frequencyRegister = 4019;
constexpr std::uint16_t powerFactorRegister = 4020;
constexpr std::uint16_t activeEnergyRegister = 4021;
constexpr std::uint16_t apparentPowerRegister = 4023;
constexpr std::uint16_t reactivePowerRegister = 4025;
constexpr std::uint16_t temperatureRegister = 4027;

constexpr std::uint16_t firmwareVersion = 0x0104;
constexpr std::uint32_t serialNumberBase = 23'110'000;
constexpr double secondsPerHour = 3600.0;

// Slow sine-shaped drifts whose periods differ per meter, so that the meters never move in step.
constexpr double powerSwing = 0.06;
constexpr double voltageSwing = 0.004;
constexpr double frequencySwingCentiHertz = 4.0;

double powerPeriodSeconds(int address)
{
    return 600.0 + 60.0 * address;
}
double voltagePeriodSeconds(int address, int phase)
{
    return 420.0 + 20.0 * address + 50.0 * phase;
}
double frequencyPeriodSeconds(int address)
{
    return 240.0 + 30.0 * address;
}

double swing(double seconds, double periodSeconds)
{
    return std::sin(2.0 * std::numbers::pi * seconds / periodSeconds);
}

std::uint16_t toRegister(double value)
{
    return static_cast<std::uint16_t>(std::clamp(std::lround(value), 0L, 0xFFFFL));
}

// A meter's counters roll over at 2^32 as real ones do.
std::uint32_t toDoubleRegister(double value)
{
    return static_cast<std::uint32_t>(std::llround(std::max(value, 0.0)) & 0xFFFF'FFFFLL);
}

void putDoubleRegister(RegisterImage &image, std::uint16_t reg, std::uint32_t value)
{
    image[reg - firstRegister] = static_cast<std::uint16_t>(value >> 16);
    image[reg - firstRegister + 1] = static_cast<std::uint16_t>(value & 0xFFFFU);
}

void putRegister(RegisterImage &image, std::uint16_t reg, std::uint16_t value)
{
    image[reg - firstRegister] = value;
}

// The integral of the active power since start, so that the counter grows at the rate shown.
double energyWattHoursAt(const MeterProfile &profile, int address, double seconds)
{
    const double period = powerPeriodSeconds(address);
    const double angle = 2.0 * std::numbers::pi * seconds / period;
    const double swingIntegral
        = powerSwing * period / (2.0 * std::numbers::pi) * (1.0 - std::cos(angle));
    const double wattSeconds = profile.activePowerWatts * (seconds + swingIntegral);
    return std::floor(profile.energyWattHours + wattSeconds / secondsPerHour);
}

} // namespace

bool isMeterAddress(int address)
{
    return address >= firstMeterAddress && address <= highestMeterAddress;
}

RegisterImage registersAt(int meterAddress, Seconds sinceStart)
{
    RegisterImage image {};
    if (!isMeterAddress(meterAddress))
        return image;
    const MeterProfile &profile
        = profiles[static_cast<std::size_t>(meterAddress - 1) % profiles.size()];
    const double seconds = sinceStart.count();

    const double power = profile.activePowerWatts
        * (1.0 + powerSwing * swing(seconds, powerPeriodSeconds(meterAddress)));
    std::array<double, 3> voltage {};
    for (std::size_t phase = 0; phase < 3; ++phase) {
        const double period = voltagePeriodSeconds(meterAddress, static_cast<int>(phase));
        voltage[phase]
            = profile.phaseVoltageDeciVolts[phase] * (1.0 + voltageSwing * swing(seconds, period));
    }
    const double frequency = profile.frequencyCentiHertz
        + frequencySwingCentiHertz * swing(seconds, frequencyPeriodSeconds(meterAddress));
    const double apparentPower = power / profile.powerFactor;
    const double reactivePower
        = apparentPower * std::sqrt(1.0 - profile.powerFactor * profile.powerFactor);

    putRegister(image, deviceAddressRegister, static_cast<std::uint16_t>(meterAddress));
    putRegister(image, firmwareVersionRegister, firmwareVersion);
    putDoubleRegister(
        image, serialNumberRegister, serialNumberBase + static_cast<std::uint32_t>(meterAddress));
    putDoubleRegister(image, activePowerRegister, toDoubleRegister(power));
    for (std::size_t phase = 0; phase < 3; ++phase) {
        putRegister(image, phaseVoltageRegisters[phase], toRegister(voltage[phase]));
        // Each phase carries a third of the power: I = P / (3 U cos phi), in milliamperes.
        const double volts = voltage[phase] / 10.0;
        const double milliamps = power / 3.0 / (volts * profile.powerFactor) * 1000.0;
        putRegister(image, phaseCurrentRegisters[phase], toRegister(milliamps));
    }
    putRegister(image, frequencyRegister, toRegister(frequency));
    putRegister(image, powerFactorRegister, toRegister(profile.powerFactor * 1000.0));
    putDoubleRegister(image, activeEnergyRegister,
        toDoubleRegister(energyWattHoursAt(profile, meterAddress, seconds)));
    putDoubleRegister(image, apparentPowerRegister, toDoubleRegister(apparentPower));
    putDoubleRegister(image, reactivePowerRegister, toDoubleRegister(reactivePower));
    putRegister(image, temperatureRegister, profile.temperatureDeciCelsius);
    return image;
}

} // namespace meterModel
