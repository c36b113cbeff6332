// Text helpers the simulated instrument's files share.
#pragma once

#include <string>
#include <string_view>

namespace sim {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Upper(std::string_view s);
std::string Trim(std::string_view s, std::string_view set = " \t");

}  // namespace sim
