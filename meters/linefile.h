#pragma once

// A line described in a TOML file: the program's settings as keys, and its meters as tables.
//
//   port = "/dev/ttyUSB0"
//   line = "9600,e,8,1"
//
//   [[meter]]
//   address = 11            # 1 to 247, each once
//   type = "sdm630"         # a built-in type or a type file (relative to this file); default
//   id = "incomer"          # [a-z0-9_], each once; its place on the line (1, 2, ...) if left out
//   name = "Main incomer"   # any text; the id if left out
//   reply_timeout = 800     # ms, instead of the line's
//   every = 60              # s: asked no more often than that

#include <QList>
#include <QString>

#include <map>
#include <variant>
#include <vector>

#include "meters/linemeter.h"

namespace meterlog {

// A key the file may hold besides [[meter]], and what its value must be: a switch takes true
// or false, any other key a string or a whole number.
struct LineFileKey
{
    QString name;
    bool isSwitch = false;
    QString form; // for the line that refuses a value of the wrong kind
};

struct LineFileValue
{
    QString text; // a whole number in decimals; empty for a switch that is on
    int line = 0;
};

struct LineFile
{
    // The keys given, by name; a switch set to false is left out.
    std::map<QString, LineFileValue> values;
    std::vector<LineMeter> meters;
    std::vector<int> meterLines; // where each meter's table begins
};

// The line in `path`, or why it cannot be read: "PATH:LINE: reason".
std::variant<LineFile, QString> readLineFile(const QString &path, const QList<LineFileKey> &keys);

} // namespace meterlog
