// The high-quality quantizer's rate control: the look-ahead of held blocks, and the choice of
// each block's step so that the blocks of the look-ahead get about one common step (the passes
// over a block that measure its bits at a step are HqTally's).
//
// Why one common step: the squared error summed over the stream is lowest when every block
// has about the same step, not the same share of bits, since a loud block gains more from a
// bit than a quiet one. The rate control so looks for the step at which the held blocks
// would spend what the standard mode spends on them, corrected by what the blocks before
// saved or overspent. A cap keeps the stream within 1/256 of the standard mode's bits.

#include "acm/hq_quantizer.h"

#include <algorithm>  // std::fill, std::max, std::min
#include <cassert>    // assert
#include <cstddef>    // std::size_t
#include <cstring>    // std::memcpy

#include "acm/acm_format.h"
#include "common/alloc.h"
#include "common/numeric.h"

namespace vellox {

namespace {

// How strongly the last blocks count in the ratio of written to estimated bits: each block
// weighs 1/32 less than the one after it.
constexpr double ratio_memory = 31.0 / 32.0;

// The cap allows the stream to run this fraction ahead of the standard mode's bits.
constexpr std::int64_t cap_slack_divisor = 256;

}  // namespace

HqQuantizer::HqQuantizer(std::int32_t column_count, std::int32_t row_count, std::int64_t bytes)
    : columns(column_count),
      rows(row_count),
      block_size(std::int64_t{column_count} * row_count),
      lookahead_bytes(bytes),
      tally(column_count, row_count) {}

HqQuantizer::~HqQuantizer() = default;

vellox_status HqQuantizer::init() {
    if (columns < 1) return VELLOX_ERROR_LEVELS;
    if (rows < 1) return VELLOX_ERROR_SUBBLOCKS;
    // A held block costs its values, its estimates, its target and its exact step.
    const std::int64_t block_bytes = block_size * std::int64_t{sizeof(std::int16_t)} +
                                     std::int64_t{grid_size * sizeof(std::int64_t) +
                                                  sizeof(std::int64_t) + sizeof(std::int32_t)};
    const std::int64_t fit = lookahead_bytes / block_bytes;
    direct = fit < 2;
    capacity = direct ? 1 : static_cast<std::int32_t>(std::min<std::int64_t>(fit, INT32_MAX / 64));
    if (!direct) {
        held_values = allocate_array<std::int16_t>(capacity * block_size);
        if (!held_values) return VELLOX_ERROR_MEMORY;
    }
    held_estimate = allocate_array<std::int64_t>(std::int64_t{capacity} * grid_size);
    held_target = allocate_array<std::int64_t>(capacity);
    held_gcd = allocate_array<std::int32_t>(capacity);
    if (!held_estimate || !held_target || !held_gcd) return VELLOX_ERROR_MEMORY;
    return tally.init();
}

void HqQuantizer::push(const std::int16_t* values, std::int32_t standard_step,
                       std::int32_t gcd_step) {
    assert(standard_step >= 1 && standard_step <= 32769);
    const std::int16_t* source = hold(values);
    // What the standard mode writes (truncating division), and the maxima of the values.
    finish_push(tally.standard_bits(source, standard_step), gcd_step);
}

std::int64_t HqQuantizer::standard_bits_of(const std::int16_t* values, std::int32_t standard_step) {
    assert(standard_step >= 1 && standard_step <= 32769);
    return tally.standard_bits(values, standard_step);
}

void HqQuantizer::push_with_target(const std::int16_t* values, std::int64_t target,
                                   std::int32_t gcd_step) {
    assert(target >= least_bits());
    tally.take_maxima(hold(values));
    finish_push(target, gcd_step);
}

// The pushed block's place in the look-ahead, its values copied there (or borrowed).
const std::int16_t* HqQuantizer::hold(const std::int16_t* values) {
    assert(held_estimate && count < capacity && !input_ended);
    if (direct) {
        borrowed = values;
        return values;
    }
    const std::int32_t slot = (first + count) % capacity;
    std::int16_t* copy = held_values.get() + slot * block_size;
    std::memcpy(copy, values, static_cast<std::size_t>(block_size) * sizeof(std::int16_t));
    return copy;
}

// The rest of a push: the block's target, exact step and estimates, from the maxima of its
// values that the tally keeps.
void HqQuantizer::finish_push(std::int64_t target, std::int32_t gcd_step) {
    assert(gcd_step >= 1 && gcd_step <= 32768);
    const std::int32_t slot = (first + count) % capacity;
    held_target.get()[slot] = target;
    held_gcd.get()[slot] = gcd_step;
    std::int64_t* estimate = held_estimate.get() + std::int64_t{slot} * grid_size;
    tally.estimate(estimate, gcd_step);
    window_target += target;
    for (int g = 0; g < grid_size; ++g) window_estimate[g] += estimate[g];
    ++count;
}

std::int64_t HqQuantizer::least_bits() const {
    return block_head_bits + std::int64_t{method_width} * columns;
}

void HqQuantizer::end_input() { input_ended = true; }

bool HqQuantizer::ready() const { return count > 0 && (count == capacity || input_ended); }

// The step at which the held blocks are estimated to spend what the standard mode would spend
// on them plus what the blocks before saved (or minus what they overspent), between two grid
// steps by linear interpolation. Each held block spends the bits of its head and method codes
// and the estimated bits of its data; the estimate leaves out what the prefix codes save, and
// the ratio of written to estimated data bits over the last blocks corrects it. Also gives
// the oldest block's own data estimate at that step.
std::int32_t HqQuantizer::choose_step(std::int32_t gcd, double* estimate_at_step) const {
    const double allowed =
        static_cast<double>(target_so_far - coded_so_far + window_target - count * least_bits());
    double ratio = recent_estimate > 0.0 ? recent_coded / recent_estimate : 1.0;
    ratio = std::min(std::max(ratio, 0.125), 8.0);
    // The estimates fall as the step grows: the first grid step that fits, by bisection.
    int low = 0;
    int high = grid_size - 1;
    while (low < high) {
        const int mid = (low + high) / 2;
        if (ratio * static_cast<double>(window_estimate[mid]) <= allowed) {
            high = mid;
        } else {
            low = mid + 1;
        }
    }
    const std::int64_t* own = held_estimate.get() + std::int64_t{first} * grid_size;
    std::int32_t step = hq_grid_step[low];
    double own_estimate = static_cast<double>(own[low]);
    if (low > 0) {
        // Where between the grid step before (which does not fit) and this one.
        const double above = ratio * static_cast<double>(window_estimate[low - 1]);
        const double below = ratio * static_cast<double>(window_estimate[low]);
        const double t = above > below ? std::min((above - allowed) / (above - below), 1.0) : 1.0;
        const std::int32_t previous = hq_grid_step[low - 1];
        step = std::min(
            previous + 1 +
                static_cast<std::int32_t>(t * static_cast<double>(hq_grid_step[low] - previous)),
            hq_grid_step[low]);
        own_estimate =
            static_cast<double>(own[low - 1]) + t * static_cast<double>(own[low] - own[low - 1]);
    }
    *estimate_at_step = own_estimate;
    // Below the block's own exact step, that step is both exact and cheaper.
    return std::max(step, gcd);
}

// Bits the packer writes for values coded at step, with the coded integers stored into coded
// when store is set.
std::int64_t HqQuantizer::code_at(const std::int16_t* values, std::int32_t step,
                                  std::int16_t* coded, bool store) {
    return tally.rounded_bits(values, step, store ? coded : nullptr);
}

// The smallest step from gcd on whose bits fit allowed (at least a block of zeros), found by
// halving or doubling from start and then by bisection. The bits need not fall strictly as
// the step grows, so this is a step that fits next to one that does not.
std::int32_t HqQuantizer::fit_step(const std::int16_t* values, std::int32_t start, std::int32_t gcd,
                                   std::int64_t allowed) {
    constexpr std::int32_t zero_step = 32769;  // every value codes as 0: a block of zeros
    auto fits = [&](std::int32_t step) { return code_at(values, step, nullptr, false) <= allowed; };
    std::int32_t low = 0;  // largest step known not to fit; 0: none
    std::int32_t high = start;
    if (fits(start)) {
        while (high > gcd) {
            const std::int32_t lower = std::max(gcd, high / 2);
            if (!fits(lower)) {
                low = lower;
                break;
            }
            high = lower;
        }
        if (low == 0) return high;
    } else {
        low = start;
        high = std::min(2 * start, zero_step);
        while (high < zero_step && !fits(high)) {
            low = high;
            high = std::min(2 * high, zero_step);
        }
    }
    while (high - low > 1) {
        const std::int32_t mid = low + (high - low) / 2;
        if (fits(mid)) {
            high = mid;
        } else {
            low = mid;
        }
    }
    return high;
}

HqBlockHead HqQuantizer::pop(std::int16_t* coded, ColumnMethod* methods) {
    assert(ready());
    const std::int32_t slot = first;
    const std::int16_t* values = direct ? borrowed : held_values.get() + slot * block_size;
    const std::int64_t target = held_target.get()[slot];

    const std::int32_t gcd = held_gcd.get()[slot];
    double estimate = 0.0;
    std::int32_t step = choose_step(gcd, &estimate);
    // The cap: a block may borrow from the held blocks behind it only as much as leaves each
    // of them the bits of a block of zeros (the head and a method code per column), the least
    // the standard mode spends on any block. So the stream never ends more than 1/256 ahead of
    // the standard mode's bits.
    const std::int64_t target_through = target_so_far + window_target;
    const std::int64_t cap = target_through + target_through / cap_slack_divisor - coded_so_far -
                             (count - 1) * least_bits();
    assert(cap >= least_bits());
    std::int64_t bits = 0;
    bool stored = false;  // coded holds the coded integers at step
    if (input_ended && count == 1) {
        // The last block takes exactly what is left of the standard mode's bits, where that
        // is at least a block of zeros: the estimate cannot make up for itself any more.
        const std::int64_t left = target_so_far + target - coded_so_far;
        step = fit_step(values, step, gcd, left >= least_bits() ? std::min(left, cap) : cap);
        bits = code_at(values, step, nullptr, false);
    } else {
        // Without a look-ahead the values are the coded integers' place: measure first.
        stored = !direct;
        bits = code_at(values, step, coded, stored);
        // Over the cap: larger grid steps, galloping. At the last one every value codes as 0.
        int g = 0;
        for (int jump = 1; bits > cap && step < hq_grid_step[grid_size - 1]; jump *= 2) {
            while (hq_grid_step[g] <= step) ++g;  // the last grid step lies above every other
            g = std::min(g + jump - 1, grid_size - 1);
            step = hq_grid_step[g];
            estimate = static_cast<double>(held_estimate.get()[std::int64_t{slot} * grid_size + g]);
            bits = code_at(values, step, coded, stored);
        }
    }
    // A block that its own exact step codes in no more bits is coded exactly. (The counts per
    // column are then those of the exact step: the chosen step's are taken again below.)
    if (gcd > 1 && gcd < step) {
        const std::int64_t exact_bits = code_at(values, gcd, nullptr, false);
        if (exact_bits <= bits) {
            step = gcd;
            bits = exact_bits;
        }
        stored = false;
    }
    if (!stored) (void)code_at(values, step, coded, true);
    assert(bits <= cap);

    std::int32_t range_needed = 1;  // largest -k over negative k and k + 1 over the others
    for (std::int32_t j = 0; j < columns; ++j) {
        const ColumnCounts c = tally.counts(j);
        methods[j] = cheapest_column(c, rows).method;
        range_needed = std::max(range_needed, std::max(c.max_magnitude, c.max_positive + 1));
    }

    recent_coded = recent_coded * ratio_memory + static_cast<double>(bits - least_bits());
    recent_estimate = recent_estimate * ratio_memory + estimate;
    target_so_far += target;
    coded_so_far += bits;
    window_target -= target;
    const std::int64_t* held = held_estimate.get() + std::int64_t{slot} * grid_size;
    for (int i = 0; i < grid_size; ++i) window_estimate[i] -= held[i];
    first = (first + 1) % capacity;
    --count;
    borrowed = nullptr;

    HqBlockHead head;
    head.range_bits = ceil_log2(static_cast<std::uint32_t>(range_needed));
    head.step = step;
    head.bits = bits;
    return head;
}

}  // namespace vellox
