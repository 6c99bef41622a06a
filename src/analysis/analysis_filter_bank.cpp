// The analysis filter bank: designs, state and the level-by-level filtering.
//
// Every node output is the sum, in double precision, of value x tap products added oldest
// value first onto a sum that starts at 0, then truncated toward zero. Level l deals its
// values to its 2^l nodes in turn, so node outputs are sums over the level's own stream:
// output i adds tap j of its row's parity (row i >> l; even rows low pass at even j) times the
// level's value i - j * 2^l. Consecutive outputs are so independent sums over one flat window
// of the level's values, computed side by side in vectors; each sum still adds its own terms
// in the same order. Where a node has not yet seen a value the window holds 0; a zero value
// adds a signed zero, which changes no sum that is not zero and at most turns -0.0 into +0.0,
// so the truncated result is the same as when the term is left out. That holds while every
// tap is finite: with an infinite or NaN tap, 0 x tap is NaN, and such filters take a slower
// path that leaves zero values out.
//
// The samples pass through all levels a tile at a time: each level writes its outputs, as
// whole doubles, straight into the next level's window, and the last level writes the
// coefficients. Within a call a level computes only whole aligned runs of outputs and leaves
// the rest for the next tile; the call's last tile takes every level to its end, so a call
// returns every coefficient its samples release, whatever the chunk sizes.

#include "analysis/analysis_filter_bank.h"

#include <algorithm>  // std::max, std::min
#include <cassert>    // assert
#include <cmath>      // std::fabs, std::isfinite
#include <cstddef>    // std::size_t
#include <cstdint>    // std::uintptr_t
#include <cstring>    // std::memmove

#include "analysis/filter_design.h"
#include "common/alloc.h"
#include "common/numeric.h"

namespace vellox {

// One level of the tree and its window of recent values: values[k] is the level's value
// number first_index + k (numbers below 0 are the zeros before the first value).
struct FilterLevel {
    std::int32_t shift = 0;        // l: the level has 2^l nodes
    std::int64_t warm_up = 0;      // filter_length << l: the first output's stream index
    std::int64_t history = 0;      // (full_length - 1) << l: how far an output reaches back
    std::int64_t capacity = 0;     // values the window holds
    double* values = nullptr;      // this level's part of delay_lines (borrowed)
    std::int64_t first_index = 0;  // stream index of values[0], a multiple of 8
    std::int64_t fill = 0;         // values in the window
    std::int64_t next_output = 0;  // stream index of the next output to compute
    bool sums_in_range = false;    // no sum can leave the 32-bit range: no check needed
    // No value from this stream index on is other than 0 (just past the newest value other
    // than 0 that the level has taken); outputs that reach back no further are 0.
    std::int64_t silent_from = 0;
};

namespace {

// Samples taken through all levels at a time: the windows' new parts stay in the caches.
constexpr std::int32_t tile_size = 4096;

// Windows start on 64 bytes and keep their values there, so that vector loads of the wider
// levels do not straddle cache lines.
constexpr std::int64_t window_alignment = 8;  // doubles

std::int64_t round_up(std::int64_t n, std::int64_t multiple) {
    return (n + multiple - 1) / multiple * multiple;
}

// The nearest 32-bit value toward zero: the common case inline, the rest (beyond the range,
// NaN) through the shared conversion.
inline std::int32_t to_coefficient(double sum) {
    if (sum > -2147483649.0 && sum < 2147483648.0) return static_cast<std::int32_t>(sum);
    return truncate_to_int32(sum);
}

// One output: term j is taps[j] x newest[-j * stride], added from the oldest term
// (j = tap_count - 1) to the newest (j = 0).
double sum_terms(const double* newest, std::int64_t stride, const double* taps,
                 std::int32_t tap_count) {
    double sum = 0.0;
    const double* value = newest - (tap_count - 1) * stride;
    for (std::int32_t j = tap_count - 1; j >= 0; --j, value += stride) sum += taps[j] * *value;
    return sum;
}

// The same, leaving zero values out, for filters with a tap that is not finite.
double sum_nonzero_terms(const double* newest, std::int64_t stride, const double* taps,
                         std::int32_t tap_count) {
    double sum = 0.0;
    const double* value = newest - (tap_count - 1) * stride;
    for (std::int32_t j = tap_count - 1; j >= 0; --j, value += stride) {
        if (*value != 0.0) sum += taps[j] * *value;
    }
    return sum;
}

void run_blocks(KernelPath path, const BlockJob& job) {
    switch (path) {
        case KernelPath::avx512:
            filter_blocks_avx512(job);
            break;
        case KernelPath::avx2:
            filter_blocks_avx2(job);
            break;
        case KernelPath::portable:
            filter_blocks_portable(job);
            break;
    }
}

}  // namespace

AnalysisFilterBank::AnalysisFilterBank(std::int32_t level_count, std::int32_t taps)
    : levels(level_count), filter_length(taps), full_length(0) {}

AnalysisFilterBank::~AnalysisFilterBank() = default;

bool AnalysisFilterBank::set_filter_path(KernelPath wanted) {
    if (!filter_path_available(wanted)) return false;
    path = wanted;
    path_set = true;
    return true;
}

vellox_status AnalysisFilterBank::init() {
    if (levels < 0 || levels > 15) return VELLOX_ERROR_LEVELS;
    const vellox_status designed = design_filters();
    if (designed != VELLOX_OK) return designed;
    assert(filter_length >= 1 && filter_length <= max_filter_length);
    assert(full_length == 2 * filter_length - 1);
    if (!path_set) path = fastest_kernel_path(filter_path_available);
    if (levels == 0) return VELLOX_OK;

    const std::int32_t taps = full_length;
    tap_table = allocate_array<double>(16 * static_cast<std::int64_t>(taps));
    level_table = allocate_array<FilterLevel>(levels);
    if (!tap_table || !level_table) return VELLOX_ERROR_MEMORY;

    // Term j of an output in row r is the node's value from row r - j, filtered with the
    // taps of that value's phase: low pass when r - j is even, high pass when odd.
    const double* low = low_pass_taps();
    const double* high = high_pass_taps();
    double* even_taps = tap_table.get();
    double* odd_taps = even_taps + taps;
    for (std::int32_t j = 0; j < taps; ++j) {
        even_taps[j] = j % 2 == 0 ? low[j] : high[j];
        odd_taps[j] = j % 2 == 0 ? high[j] : low[j];
        if (!std::isfinite(low[j]) || !std::isfinite(high[j])) finite_taps = false;
    }
    // Levels of 1, 2 and 4 nodes change rows within a vector: per term, the taps of 2^(s+1)
    // consecutive outputs starting on an even row.
    double* pattern = odd_taps + taps;
    for (std::int32_t s = 0; s < 3; ++s) {
        const std::int32_t period = 2 << s;
        for (std::int32_t j = 0; j < taps; ++j) {
            for (std::int32_t k = 0; k < period; ++k) {
                pattern[j * period + k] = ((k >> s) & 1) != 0 ? odd_taps[j] : even_taps[j];
            }
        }
        pattern += static_cast<std::int64_t>(period) * taps;
    }
    if (!allocate_windows()) return VELLOX_ERROR_MEMORY;

    // A level's sums are at most the sum of the tap magnitudes (the gain) times its largest
    // input magnitude, which starts at 32768 for samples; rounding adds less than a millionth
    // for any tap count. Levels whose sums stay inside the 32-bit range skip the check.
    double gain = 0.0;
    for (std::int32_t j = 0; j < taps; ++j) gain += std::max(std::fabs(low[j]), std::fabs(high[j]));
    double largest = 32768.0;
    for (std::int32_t l = 0; l < levels; ++l) {
        const double reach = gain * largest * (1.0 + 1e-6);
        level_table.get()[l].sums_in_range = reach < 2147483647.0;  // false for NaN too
        largest = reach < 2147483648.0 ? reach : 2147483648.0;
    }
    return VELLOX_OK;
}

// All windows in one block. A window holds the history an output reaches back, a run of
// values not yet filtered and room for what one tile brings (at most tile_size values plus a
// run per level before it); wide levels get room for their history, so that a slide moves at
// most one value per value taken. The size is at most about 2^37 values, which int64_t holds,
// and the allocator refuses what the machine cannot give.
bool AnalysisFilterBank::allocate_windows() {
    std::int64_t total = window_alignment;
    FilterLevel* const level_records = level_table.get();
    for (std::int32_t l = 0; l < levels; ++l) {
        FilterLevel& level = level_records[l];
        level.shift = l;
        level.warm_up = static_cast<std::int64_t>(filter_length) << l;
        level.history = static_cast<std::int64_t>(full_length - 1) << l;
        const std::int64_t room = std::max(tile_size + (l + 1) * block_outputs, level.history);
        level.capacity =
            round_up(level.history + block_outputs + window_alignment + room, window_alignment);
        level.fill = round_up(level.history, window_alignment);
        level.first_index = -level.fill;
        level.next_output = level.warm_up;
        total += level.capacity;
    }
    delay_lines = allocate_array<double>(total);
    if (!delay_lines) return false;
    const auto address = reinterpret_cast<std::uintptr_t>(delay_lines.get());
    const std::uintptr_t misalignment = address % (window_alignment * sizeof(double));
    double* window = delay_lines.get();
    if (misalignment != 0) {
        window += (window_alignment * sizeof(double) - misalignment) / sizeof(double);
    }
    for (std::int32_t l = 0; l < levels; ++l) {
        level_records[l].values = window;
        window += level_records[l].capacity;
    }
    return true;
}

std::int64_t AnalysisFilterBank::delay() const {
    if (levels < 0 || levels > 15) return 0;
    return static_cast<std::int64_t>(filter_length) * ((std::int64_t{1} << levels) - 1);
}

std::int32_t AnalysisFilterBank::process(const std::int16_t* source, std::int32_t count,
                                         std::int32_t* destination) {
    if (count <= 0) return 0;
    if (levels == 0) {
        for (std::int32_t i = 0; i < count; ++i) destination[i] = source[i];
        return count;
    }
    if (!delay_lines) return 0;  // init failed or never ran
    FilterLevel* const level_records = level_table.get();
    std::int32_t written = 0;
    for (std::int32_t at = 0; at < count; at += tile_size) {
        const std::int32_t n = std::min(tile_size, count - at);
        const bool last_tile = n == count - at;
        FilterLevel& first = level_records[0];
        make_room(first, n);
        double* in = first.values + first.fill;
        for (std::int32_t i = 0; i < n; ++i) in[i] = source[at + i];
        std::int32_t last = n;  // just past the last sample other than 0
        while (last > 0 && source[at + last - 1] == 0) --last;
        if (last > 0) first.silent_from = first.first_index + first.fill + last;
        first.fill += n;
        for (std::int32_t l = 0; l < levels; ++l) {
            FilterLevel& level = level_records[l];
            const std::int64_t seen = level.first_index + level.fill;
            const std::int64_t end = last_tile ? seen : seen & -block_outputs;
            if (end <= level.next_output) continue;
            const std::int64_t outputs = end - level.next_output;
            // Outputs whose every term is a zero value are 0 (a zero value adds a signed
            // zero, or nothing with taps that are not finite): silence costs no filtering.
            const bool silent = level.next_output - level.history >= level.silent_from;
            if (l + 1 < levels) {
                FilterLevel& next = level_records[l + 1];
                make_room(next, outputs);
                double* out = next.values + next.fill;
                if (silent) {
                    std::fill(out, out + outputs, 0.0);
                } else {
                    filter_outputs(level, end, out, nullptr);
                    std::int64_t last_output = outputs;  // just past the last one other than 0
                    while (last_output > 0 && out[last_output - 1] == 0.0) --last_output;
                    if (last_output > 0) {
                        next.silent_from = next.first_index + next.fill + last_output;
                    }
                }
                next.fill += outputs;
            } else {
                std::int32_t* out = destination + written;
                if (silent) {
                    std::fill(out, out + outputs, 0);
                } else {
                    filter_outputs(level, end, nullptr, out);
                }
                written += static_cast<std::int32_t>(outputs);
            }
            level.next_output = end;
        }
    }
    return written;
}

// Slides the window when incoming values would not fit: it keeps what the outputs not yet
// computed reach back to, from a multiple of 8 on.
void AnalysisFilterBank::make_room(FilterLevel& level, std::int64_t incoming) {
    if (level.fill + incoming <= level.capacity) return;
    const std::int64_t seen = level.first_index + level.fill;
    const std::int64_t keep_from =
        (std::min(level.next_output, seen) - level.history) & -window_alignment;
    const std::int64_t kept = seen - keep_from;
    std::memmove(level.values, level.values + (keep_from - level.first_index),
                 static_cast<std::size_t>(kept) * sizeof(double));
    level.first_index = keep_from;
    level.fill = kept;
}

// The level's outputs from next_output up to end, as whole doubles into values or, when it
// is null, as coefficients.
void AnalysisFilterBank::filter_outputs(const FilterLevel& level, std::int64_t end, double* values,
                                        std::int32_t* coefficients) const {
    const std::int64_t begin = level.next_output;
    const std::int64_t stride = std::int64_t{1} << level.shift;
    const std::int32_t taps = full_length;
    const double* even_taps = tap_table.get();
    const double* odd_taps = even_taps + taps;
    const double* newest = level.values + (begin - level.first_index);
    const auto single = [&](std::int64_t k) {
        const double* row_taps = (((begin + k) >> level.shift) & 1) == 0 ? even_taps : odd_taps;
        const double sum = finite_taps ? sum_terms(newest + k, stride, row_taps, taps)
                                       : sum_nonzero_terms(newest + k, stride, row_taps, taps);
        const std::int32_t c = to_coefficient(sum);
        if (values != nullptr) {
            values[k] = c;
        } else {
            coefficients[k] = c;
        }
    };
    const std::int64_t count = end - begin;
    std::int64_t k = 0;
    // Runs start on a multiple of block_outputs in the level's stream, where every run has
    // the same pattern of rows.
    const std::int64_t lead = finite_taps ? std::min(count, (-begin) & (block_outputs - 1)) : count;
    for (; k < lead; ++k) single(k);
    const std::int64_t run = (count - k) & -block_outputs;
    if (run > 0) {
        BlockJob job;
        job.newest = newest + k;
        job.begin = begin + k;
        job.count = run;
        job.shift = level.shift;
        job.tap_count = taps;
        job.in_range = level.sums_in_range;
        job.even_taps = even_taps;
        job.odd_taps = odd_taps;
        const double* pattern = odd_taps + taps;
        for (int s = 0; s < 3; ++s) {
            job.period_taps[s] = pattern;
            pattern += static_cast<std::int64_t>(2 << s) * taps;
        }
        if (values != nullptr) {
            job.values = values + k;
        } else {
            job.coefficients = coefficients + k;
        }
        run_blocks(path, job);
        k += run;
    }
    for (; k < count; ++k) single(k);
}

FdFilterBank::FdFilterBank(std::int32_t level_count, std::int32_t taps)
    : AnalysisFilterBank(level_count, taps) {}

vellox_status FdFilterBank::allocate_filters(std::int32_t least, vellox_status wrong_length) {
    if (filter_length < least || filter_length > max_filter_length) return wrong_length;
    full_length = 2 * filter_length - 1;
    low_pass = allocate_array<double>(full_length);
    high_pass = allocate_array<double>(full_length);
    return low_pass && high_pass ? VELLOX_OK : VELLOX_ERROR_MEMORY;
}

void FdFilterBank::finish_filters() {
    vellox::finish_filters(low_pass.get(), high_pass.get(), filter_length, dc_norm);
}

vellox_status FdFilterBank::design_filters() {
    const vellox_status made = allocate_filters(1, VELLOX_ERROR_FILTER_LENGTH);
    if (made != VELLOX_OK) return made;
    dc_norm = design_fd_magnitudes(low_pass.get(), filter_length);
    finish_filters();
    return VELLOX_OK;
}

FoFilterBank::FoFilterBank(std::int32_t level_count, std::int32_t taps)
    : FdFilterBank(level_count, taps) {}

vellox_status FoFilterBank::design_filters() {
    // The divisor takes the two outer magnitudes, so one tap is not a filter of this design.
    const vellox_status made = allocate_filters(2, VELLOX_ERROR_FILTER_LENGTH);
    if (made != VELLOX_OK) return made;
    dc_norm = design_fo_magnitudes(low_pass.get(), filter_length);
    finish_filters();
    return VELLOX_OK;
}

FcFilterBank::FcFilterBank(std::int32_t level_count, const double* magnitudes,
                           std::int32_t tap_count)
    : FdFilterBank(level_count, tap_count), taps(magnitudes) {}

vellox_status FcFilterBank::design_filters() {
    // Taps are used at their scale: dc_norm stays 1.
    if (taps == nullptr) return VELLOX_ERROR_TAPS;
    const vellox_status made = allocate_filters(1, VELLOX_ERROR_TAPS);
    if (made != VELLOX_OK) return made;
    double* magnitudes = low_pass.get();
    for (std::int32_t k = 0; k < filter_length; ++k) magnitudes[k] = std::fabs(taps[k]);
    taps = nullptr;
    finish_filters();
    return VELLOX_OK;
}

}  // namespace vellox
