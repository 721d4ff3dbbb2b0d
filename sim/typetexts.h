// The TOML files of meterlog's built-in meter types, as compiled in.
#pragma once

#include <map>
#include <string>
#include <string_view>

extern const std::map<std::string, std::string_view> builtInTypeTexts;
