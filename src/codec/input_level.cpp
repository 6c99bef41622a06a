// The input's level: the fixed gain and the look-ahead limiter.
//
// The limiter runs the encoder's own analysis on the samples ahead of them. Each row of
// coefficients (2^levels of them, one stretch of 2^levels samples) needs a gain, in 1/65536,
// that brings its extremes within the ceiling: 65536 where they are within it already. A row's
// least need within reach_rows rows either side, then the average of that over the `smoothing`
// samples around each sample, is the sample's gain: so every sample whose stretch reaches a
// row (the analysis of a row looks a few rows either side) gets at most that row's need, and
// the gain moves smoothly. All of it is integer arithmetic on the stream, so the samples that
// leave do not depend on how the input is cut; a pass that checks them sees what the encoder
// will see.

#include "codec/input_level.h"

#include <algorithm>  // std::max, std::min
#include <cassert>    // assert
#include <cmath>      // std::floor, std::log10, std::pow

#include "codec/coded_analysis.h"
#include "common/alloc.h"
#include "common/numeric.h"

namespace vellox {

namespace {

constexpr std::int64_t unity = 65536;                             // a need or gain of 1
constexpr std::int64_t full_sum = unity * InputLevel::smoothing;  // 2^26: a sum of gains of 1
constexpr std::int32_t half_window = InputLevel::smoothing / 2;

// Rows of samples either side of a row whose level its coefficients mostly follow: the inverse's
// weights fall by 0.172 a row; what reaches further, the passes that check the result see.
constexpr std::int32_t support_rows = 1;

// Samples taken through the analysis at a time, so that the rings stay small.
constexpr std::int32_t piece_size = 4096;

std::int16_t scaled(std::int16_t sample, double factor) {
    return saturate_to_int16(round_to_int32(static_cast<double>(sample) * factor));
}

}  // namespace

double gain_factor(double db) { return std::pow(10.0, db / 20.0); }

double fitting_gain_db(const ClipStatistics& clips) {
    const std::int64_t m = clips.extreme();
    if (m == 0) return 0.0;
    const double db = m > 0 ? 20.0 * std::log10(32767.0 / static_cast<double>(m))
                            : 20.0 * std::log10(32768.0 / static_cast<double>(-m));
    return std::floor(db * 10.0) / 10.0;
}

InputLevel::InputLevel(const EncoderSettings& encoder_settings, double gain_db, bool limiter,
                       double ceiling_share, std::int64_t counted_samples)
    : settings(encoder_settings),
      factor(gain_factor(gain_db)),
      limit(limiter),
      ceiling(ceiling_share),
      counted(counted_samples) {
    settings.analysis_only = true;
}

InputLevel::~InputLevel() = default;

vellox_status InputLevel::init() {
    if (!limit) return VELLOX_OK;
    analysis = make_object<CodedAnalysis>(settings);
    settings.taps = nullptr;
    if (!analysis) return VELLOX_ERROR_MEMORY;
    const vellox_status status = analysis->init();
    if (status != VELLOX_OK) return status;
    row_shift = settings.levels;
    const std::int64_t row = std::int64_t{1} << row_shift;
    reach_rows = static_cast<std::int32_t>((half_window + row - 1) / row) + 1 + support_rows;
    // Sample t leaves when the need of row (t + half_window - 1) / row + reach_rows is known,
    // which the analysis gives once its last coefficient and delay() values after it are in.
    lookahead = analysis->delay() + half_window + (reach_rows + 1) * row;
    held_size = lookahead + piece_size + 1;
    // The rows from the oldest that the sum still needs to the newest the analysis gave.
    need_size = 2 * std::int64_t{reach_rows} + 8 +
                (2 * half_window + piece_size + analysis->burst()) / row +
                (analysis->delay() - analysis->least_delay()) / row;
    coefficients = allocate_array<std::int32_t>(std::int64_t{piece_size} + analysis->burst());
    held = allocate_array<std::int16_t>(held_size);
    row_needs = allocate_array<std::int64_t>(need_size);
    row_least = allocate_array<std::int64_t>(need_size);
    window = allocate_array<std::int64_t>(need_size);
    return coefficients && held && row_needs && row_least && window ? VELLOX_OK
                                                                    : VELLOX_ERROR_MEMORY;
}

double InputLevel::least_gain() const {
    return lowered_count == 0 ? 1.0
                              : static_cast<double>(least_sum) / static_cast<double>(full_sum);
}

std::int32_t InputLevel::process(const std::int16_t* samples, std::int32_t count,
                                 std::int16_t* out) {
    if (!limit) {
        if (factor == 1.0) {
            std::copy(samples, samples + count, out);
        } else {
            for (std::int32_t i = 0; i < count; ++i) out[i] = scaled(samples[i], factor);
        }
        return count;
    }
    std::int32_t written = 0;
    for (std::int32_t start = 0; start < count; start += piece_size) {
        const std::int32_t n = std::min(piece_size, count - start);
        std::int16_t* piece = out + written;  // the scaled samples, for the analysis
        for (std::int32_t i = 0; i < n; ++i) {
            piece[i] = scaled(samples[start + i], factor);
            held.get()[(fed + i) % held_size] = piece[i];
        }
        take_coefficients(coefficients.get(), analysis->process(piece, n, coefficients.get()));
        fed += n;
        // The samples whose gain is known leave.
        for (; left + lookahead < fed; ++left) {
            if (left == 0) {
                sum = half_window * sample_need(0);
                for (std::int64_t s = 0; s < half_window; ++s) sum += sample_need(s);
            }
            const double gain = static_cast<double>(sum) / static_cast<double>(full_sum);
            const double value = static_cast<double>(held.get()[left % held_size]) * gain;
            out[written++] = saturate_to_int16(round_to_int32(value));
            if (left < counted && sum < full_sum) {
                least_sum = lowered_count == 0 ? sum : std::min(least_sum, sum);
                ++lowered_count;
            }
            sum += sample_need(left + half_window) - sample_need(left - half_window);
        }
    }
    return written;
}

// The coefficients of the analysis, row by row: each row's extremes give its need.
void InputLevel::take_coefficients(const std::int32_t* values, std::int32_t count) {
    const std::int32_t row = std::int32_t{1} << row_shift;
    for (std::int32_t i = 0; i < count; ++i) {
        row_highest = std::max(row_highest, values[i]);
        row_lowest = std::min(row_lowest, values[i]);
        if (++row_fill < row) continue;
        std::int64_t need = unity;
        const double top = ceiling * 32767.0;
        const double bottom = ceiling * 32768.0;
        if (row_highest > top) {
            need = std::min(need, static_cast<std::int64_t>(
                                      std::floor(static_cast<double>(unity) * top / row_highest)));
        }
        if (-static_cast<double>(row_lowest) > bottom) {
            need = std::min(need, static_cast<std::int64_t>(std::floor(static_cast<double>(unity) *
                                                                       bottom / -row_lowest)));
        }
        take_row_need(need);
        row_fill = 0;
        row_highest = 0;
        row_lowest = 0;
    }
}

// A row's own need: the sliding minimum over the rows within reach of the row reach_rows
// before it, through a queue of rows whose needs rise from its front.
void InputLevel::take_row_need(std::int64_t need) {
    const std::int64_t q = rows_in++;
    row_needs.get()[q % need_size] = need;
    while (
        window_count > 0 &&
        row_needs.get()[window.get()[(window_first + window_count - 1) % need_size] % need_size] >=
            need) {
        --window_count;
    }
    window.get()[(window_first + window_count) % need_size] = q;
    ++window_count;
    const std::int64_t r = q - reach_rows;
    if (r < 0) return;
    while (window.get()[window_first] < r - reach_rows) {
        window_first = (window_first + 1) % need_size;
        --window_count;
    }
    row_least.get()[r % need_size] = row_needs.get()[window.get()[window_first] % need_size];
    rows_ready = r + 1;
}

// The least need within reach of sample t's row; before the first sample, that of row 0.
std::int64_t InputLevel::sample_need(std::int64_t t) const {
    const std::int64_t r = t < 0 ? 0 : t >> row_shift;
    assert(r < rows_ready);
    return row_least.get()[r % need_size];
}

}  // namespace vellox
