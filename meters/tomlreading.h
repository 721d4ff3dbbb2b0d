#pragma once

// Reading meterlog's TOML files (meter types, lines): the first fault found stops the reading and
// names the line it is on.

#include <QString>

#include <toml++/toml.h>

#include <cstdint>

// Only meters/ reads these files, and it alone links toml++.
namespace meterlog::tomlreading {

// Reading stops at the first fault, which names where it is.
struct Fault
{
    QString reason;
    toml::source_region where;
};

inline QString located(const QString &source, const Fault &fault)
{
    const auto line = fault.where.begin.line;
    return line > 0 ? QStringLiteral("%1:%2: %3").arg(source).arg(line).arg(fault.reason)
                    : QStringLiteral("%1: %2").arg(source, fault.reason);
}

inline const toml::node &required(const toml::table &table, const char *key, const char *what)
{
    const toml::node *node = table.get(key);
    if (!node)
        throw Fault {QStringLiteral("%1 has no %2").arg(what, key), table.source()};
    return *node;
}

inline QString textOf(const toml::node &node, const char *key)
{
    if (const auto *text = node.as_string())
        return QString::fromStdString(text->get());
    throw Fault {QStringLiteral("%1 must be a string").arg(key), node.source()};
}

inline std::int64_t wholeOf(
    const toml::node &node, const char *key, std::int64_t low, std::int64_t high)
{
    const auto *whole = node.as_integer();
    if (!whole || whole->get() < low || whole->get() > high) {
        throw Fault {
            QStringLiteral("%1 must be a whole number from %2 to %3").arg(key).arg(low).arg(high),
            node.source()};
    }
    return whole->get();
}

inline QString optionalText(const toml::table &table, const char *key)
{
    const auto *node = table.get(key);
    return node ? textOf(*node, key) : QString();
}

// Each table of an array of tables, or the fault of a key that holds something else.
template<typename Each>
void forEachTable(const toml::table &root, const char *key, Each each)
{
    const auto *node = root.get(key);
    if (!node)
        return;
    const auto *array = node->as_array();
    if (!array || !array->is_array_of_tables())
        throw Fault {QStringLiteral("%1 must be written [[%1]]").arg(key), node->source()};
    for (const auto &element : *array)
        each(*element.as_table());
}

} // namespace meterlog::tomlreading
