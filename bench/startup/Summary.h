// Medians and ranges of the measured figures, and their one-line presentation.
#pragma once

#include <string>
#include <vector>

namespace summary {

// The median of the values (mean of the two middle ones for an even count); NaN when empty.
double median(std::vector<double> values);

// "median (min–max)" with the given number of decimals, or "-" when there are no values.
std::string spread(const std::vector<double>& values, int decimals);

// The value with the given number of decimals.
std::string fixed(double value, int decimals);

} // namespace summary
