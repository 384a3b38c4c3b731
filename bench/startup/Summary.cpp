#include "Summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace summary {

double median(std::vector<double> values)
{
    if (values.empty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string spread(const std::vector<double>& values, int decimals)
{
    if (values.empty())
        return "-";
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    return fixed(median(values), decimals) + " (" + fixed(*low, decimals) + "-" + fixed(*high, decimals)
        + ")";
}

} // namespace summary
