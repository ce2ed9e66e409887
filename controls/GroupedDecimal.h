#pragma once
// Byte counts as the file dialog panes show them: decimal digits in groups of three from the
// right, separated by "," (0, 1,000, 1,234,567).

#include <cstdint>
#include <string>

namespace korvo {

std::string groupedDecimal(std::uint64_t value);

}  // namespace korvo
