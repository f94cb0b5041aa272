/// \file
/// SLPNearestFloat: how a load turns a number it read as a double into a float.
#pragma once

#include <cmath>
#include <limits>

/// The float nearest to dValue. Beyond the float range the rounding gives the largest float or an
/// infinity of the same sign exactly as rounding to nearest does (1e39 becomes +inf), where a plain
/// conversion of such a value would be undefined.
inline float SLPNearestFloat(double dValue)
{
    constexpr double dMax = static_cast<double>(std::numeric_limits<float>::max());
    // Half a unit in the last place above the largest float: from there on the nearest is infinity.
    constexpr double dOverflow = dMax + 0x1p103;
    // The common case first, with one comparison: within the float range the conversion rounds.
    if (std::fabs(dValue) <= dMax)
        return static_cast<float>(dValue);
    if (dValue >= dOverflow)
        return std::numeric_limits<float>::infinity();
    if (dValue <= -dOverflow)
        return -std::numeric_limits<float>::infinity();
    if (dValue > dMax || dValue < -dMax)
        return dValue > 0 ? std::numeric_limits<float>::max() : -std::numeric_limits<float>::max();
    return static_cast<float>(dValue);
}
