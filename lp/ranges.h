// The values each numeric setting can take, shared by the option readers of the programs.
#pragma once

#include <cstddef>

namespace orva {

// Whether v is a value the setting `name` takes (a setting without limits takes any number
// but NaN); otherwise false, with `why` saying which values it takes.
bool setting_in_range(const char *name, double v, char *why, std::size_t len);

} // namespace orva
