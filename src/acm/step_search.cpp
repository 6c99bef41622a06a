// The standard mode's step: Euclid over the block's values, and the budget search over the
// per-column maxima, which never passes over the values again.

#include "acm/step_search.h"

#include <algorithm>  // std::min

#include "acm/column_cost.h"
#include "acm/reciprocal.h"

namespace vellox {

namespace {

// The greatest common divisor of g and a (gcd(g, 0) = g), by Euclid's remainders, the first
// taken of the new value by the divisor so far (usually the smaller).
std::uint32_t gcd(std::uint32_t g, std::uint32_t a) {
    if (g == 0 || a == 0) return g | a;
    a %= g;
    while (a != 0) {
        const std::uint32_t r = g % a;
        g = a;
        a = r;
    }
    return g;
}

// Estimated bits per value of a column whose coded integers reach the magnitude a and the
// positive value b (b <= a). For a = 0 .. 5; a = 4 costs 3.5 instead when b is 4.
constexpr double small_column_bits[6] = {0.0, 5.0 / 3.0, 7.0 / 3.0, 3.0, 3.0, 3.5};

double bits_per_value(std::int32_t a, std::int32_t b) {
    if (a < 6) return (a == 4 && b > 3) ? 3.5 : small_column_bits[a];
    return static_cast<double>(wide_linear_width(a, b));
}

bool fits(const ColumnMaxima* columns, std::int32_t count, std::int32_t rows,
          std::int32_t bit_budget, std::int32_t step) {
    return estimate_block_bits(columns, count, rows, step) <= static_cast<double>(bit_budget);
}

}  // namespace

std::uint32_t magnitude_gcd(const std::int16_t* values, std::int64_t count) {
    // Once the divisor is 1 no value can change it, and runs of zeros (gcd(g, 0) = g) are
    // passed over a chunk at a time.
    constexpr std::int64_t chunk = 16;
    std::uint32_t divisor = 0;
    for (std::int64_t start = 0; start < count && divisor != 1; start += chunk) {
        const std::int64_t end = std::min<std::int64_t>(start + chunk, count);
        int any = 0;
        for (std::int64_t e = start; e < end; ++e) any |= values[e];
        if (any == 0) continue;
        for (std::int64_t e = start; e < end; ++e) {
            const std::int32_t v = values[e];
            divisor = gcd(divisor, static_cast<std::uint32_t>(v < 0 ? -v : v));
        }
    }
    return divisor;
}

// Columns of zeros estimate 0 bits at every step and are left out: adding 0 changes no sum.
double estimate_block_bits(const ColumnMaxima* columns, std::int32_t count, std::int32_t rows,
                           std::int32_t step) {
    double sum = 0.0;
    if (step == 1) {
        for (std::int32_t i = 0; i < count; ++i) {
            sum += bits_per_value(columns[i].magnitude, columns[i].positive);
        }
    } else if (count <= 2) {  // too few columns to pay for the reciprocal's own division
        for (std::int32_t i = 0; i < count; ++i) {
            sum += bits_per_value(columns[i].magnitude / step, columns[i].positive / step);
        }
    } else {
        const Reciprocal divide_by_step(step);
        for (std::int32_t i = 0; i < count; ++i) {
            const auto a = static_cast<std::uint32_t>(columns[i].magnitude);
            const auto b = static_cast<std::uint32_t>(columns[i].positive);
            sum += bits_per_value(static_cast<std::int32_t>(divide_by_step.divide(a)),
                                  static_cast<std::int32_t>(divide_by_step.divide(b)));
        }
    }
    return sum * static_cast<double>(rows);
}

std::int32_t search_step(const ColumnMaxima* columns, std::int32_t count, std::int32_t rows,
                         std::int32_t bit_budget, std::int32_t first_step) {
    const auto step_fits = [&](std::int32_t step) {
        return fits(columns, count, rows, bit_budget, step);
    };
    if (step_fits(first_step)) return first_step;
    // Probe upward with doubling increments: first_step + 16, + 48, + 112, ... Every step
    // above the block's largest magnitude fits, so probes stay below 2^17.
    std::int32_t last_unfit = first_step;
    std::int32_t increment = 16;
    while (!step_fits(last_unfit + increment)) {
        last_unfit += increment;
        increment *= 2;
    }
    // The smallest fitting step between, by binary search.
    std::int32_t first = last_unfit + 1;
    std::int32_t left = increment - 1;
    while (left > 0) {
        const std::int32_t half = left / 2;
        const std::int32_t mid = first + half;
        if (!step_fits(mid)) {
            first = mid + 1;
            left -= half + 1;
        } else {
            left = half;
        }
    }
    return first;
}

}  // namespace vellox
