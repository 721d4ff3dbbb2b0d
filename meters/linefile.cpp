#include "meters/linefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <optional>
#include <set>

#include "meters/metertypefile.h"
#include "meters/tomlreading.h"

namespace meterlog {

namespace {

using namespace tomlreading;

// The longest a meter may take to answer, and the longest between two of its readings.
constexpr std::int64_t shortestReplyLimit = 10;
constexpr std::int64_t longestReplyLimit = 10'000;
constexpr std::int64_t longestEvery = 86'400;

// What `node` gives `key`; nothing for a switch that is off.
std::optional<LineFileValue> valueOf(const LineFileKey &key, const toml::node &node)
{
    const int line = int(node.source().begin.line);
    if (key.isSwitch) {
        if (const auto *on = node.as_boolean()) {
            if (!on->get())
                return std::nullopt;
            return LineFileValue {QString(), line};
        }
    } else if (const auto *text = node.as_string()) {
        return LineFileValue {QString::fromStdString(text->get()), line};
    } else if (const auto *whole = node.as_integer()) {
        return LineFileValue {QString::number(whole->get()), line};
    }
    throw Fault {key.isSwitch ? QStringLiteral("%1 takes true or false").arg(key.name)
                              : QStringLiteral("%1 takes %2").arg(key.name, key.form),
        node.source()};
}

// A type named in the file: a built-in one, or a type file found from the line file's folder.
MeterType typeNamed(const toml::node &node, const QString &linePath)
{
    QString name = textOf(node, "type");
    if (name.contains(u'/') && QFileInfo(name).isRelative())
        name = QFileInfo(linePath).dir().filePath(name);
    const auto type = findMeterType(name);
    if (const auto *why = std::get_if<QString>(&type))
        throw Fault {QStringLiteral("type: %1").arg(*why), node.source()};
    return std::get<MeterType>(type);
}

LineMeter meterOf(const toml::table &table, int position, const QString &linePath)
{
    static const std::set<std::string> known {
        "address", "type", "id", "name", "reply_timeout", "every"};
    for (const auto &[key, node] : table) {
        if (!known.contains(std::string(key.str()))) {
            throw Fault {QStringLiteral("a [[meter]] has no key '%1' (it takes address, type, id, "
                                        "name, reply_timeout and every)")
                             .arg(QString::fromUtf8(key.str())),
                node.source()};
        }
    }
    LineMeter meter;
    meter.address = int(wholeOf(required(table, "address", "a [[meter]]"), "address",
        lowestMeterAddress, highestMeterAddress));
    if (const auto *type = table.get("type"); type && textOf(*type, "type") != u"default")
        meter.type = typeNamed(*type, linePath);
    meter.id = QString::number(position);
    if (const auto *id = table.get("id")) {
        static const QRegularExpression idForm(QStringLiteral("^[a-z0-9_]{1,64}$"));
        meter.id = textOf(*id, "id");
        if (!idForm.match(meter.id).hasMatch()) {
            throw Fault {
                QStringLiteral("id takes 1 to 64 of a-z, 0-9 and _, not \"%1\"").arg(meter.id),
                id->source()};
        }
    }
    meter.name = optionalText(table, "name");
    if (meter.name.isEmpty())
        meter.name = meter.id;
    if (const auto *limit = table.get("reply_timeout")) {
        meter.replyLimit = std::chrono::milliseconds(
            wholeOf(*limit, "reply_timeout", shortestReplyLimit, longestReplyLimit));
    }
    if (const auto *every = table.get("every"))
        meter.every = std::chrono::seconds(wholeOf(*every, "every", 1, longestEvery));
    return meter;
}

LineFile lineOf(const toml::table &root, const QString &path, const QList<LineFileKey> &keys)
{
    LineFile file;
    for (const auto &[name, node] : root) {
        const QString key = QString::fromUtf8(name.str());
        if (key == u"meter")
            continue;
        const auto known = std::find_if(
            keys.begin(), keys.end(), [&](const LineFileKey &each) { return each.name == key; });
        if (known == keys.end()) {
            throw Fault {QStringLiteral("no key '%1' (a line file takes the options of meterlog "
                                        "--help with _ for -, and [[meter]] tables)")
                             .arg(key),
                node.source()};
        }
        if (const auto value = valueOf(*known, node))
            file.values[key] = *value;
    }
    std::map<int, int> lineOfAddress;
    std::map<QString, int> lineOfId;
    forEachTable(root, "meter", [&](const toml::table &table) {
        const int line = int(table.source().begin.line);
        auto meter = meterOf(table, int(file.meters.size()) + 1, path);
        if (const auto [first, added] = lineOfAddress.emplace(meter.address, line); !added) {
            throw Fault {QStringLiteral("address %1 is on the line twice (first on line %2)")
                             .arg(meter.address)
                             .arg(first->second),
                table.source()};
        }
        if (const auto [first, added] = lineOfId.emplace(meter.id, line); !added) {
            throw Fault {QStringLiteral("id %1 names two meters (first on line %2)")
                             .arg(meter.id)
                             .arg(first->second),
                table.source()};
        }
        file.meters.push_back(std::move(meter));
        file.meterLines.push_back(line);
    });
    return file;
}

} // namespace

std::variant<LineFile, QString> readLineFile(const QString &path, const QList<LineFileKey> &keys)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: cannot be read: %2")
            .arg(path, QFileInfo(path).isDir() ? QStringLiteral("a folder") : file.errorString());
    try {
        const auto root = toml::parse(file.readAll().toStdString(), path.toStdString());
        return lineOf(root, path, keys);
    } catch (const toml::parse_error &error) {
        return located(path, {QString::fromUtf8(error.description()), error.source()});
    } catch (const Fault &fault) {
        return located(path, fault);
    }
}

} // namespace meterlog
