#pragma once
// InputLevel: what the program does to the samples before they are encoded: a fixed gain,
// and optionally a limiter that lowers the level only where the coefficients would not fit
// 16 bits, with a gain found ahead from the same analysis the encoder runs.

#include <cstdint>  // std::int16_t, std::int32_t, std::int64_t
#include <memory>   // std::unique_ptr

#include "codec/encoder.h"  // EncoderSettings, ClipStatistics

namespace vellox {

class CodedAnalysis;

// The largest gain in dB, one decimal rounded down, at which the clipped coefficient of
// largest magnitude (clips.extreme()) would have fitted 16 bits: 20 log10(32767 / m) for a
// positive extreme m, 20 log10(32768 / -m) for a negative one; 0 when nothing was clipped.
[[nodiscard]] double fitting_gain_db(const ClipStatistics& clips);

// 10^(db / 20).
[[nodiscard]] double gain_factor(double db);

class InputLevel {
public:
    // The limiter's gain is an average over this many samples (46 ms at 22,050 Hz).
    static constexpr std::int32_t smoothing = 1024;

    // gain_db: the fixed gain. limit: with the limiter, which keeps every row of coefficients
    // of the analysis the settings choose within ceiling (0 .. 1) times the 16-bit range.
    // counted: the samples of the input (those after it are the zeros that drain the
    // encoder), for the statistics. Stores the values (the taps of the settings stay borrowed
    // until init returns); allocates nothing.
    InputLevel(const EncoderSettings& settings, double gain_db, bool limit, double ceiling,
               std::int64_t counted);
    ~InputLevel();

    InputLevel(const InputLevel&) = delete;
    InputLevel& operator=(const InputLevel&) = delete;

    // Makes the limiter's analysis and buffers: VELLOX_OK, or the analysis's failure (see
    // CodedAnalysis::init) or VELLOX_ERROR_MEMORY.
    [[nodiscard]] vellox_status init();

    // The limiter's look-ahead: the first delay() samples in give none out. 0 without it.
    std::int64_t delay() const { return lookahead; }

    // Takes count samples (at most Encoder::chunk_size) and writes the samples that leave to
    // out (room for count): each times the fixed gain and the limiter's gain for it, rounded
    // half away from zero and saturated to 16 bits. Returns how many: count once delay()
    // samples have come. The samples do not depend on how the input is cut into calls.
    std::int32_t process(const std::int16_t* samples, std::int32_t count, std::int16_t* out);

    // Of the counted samples that left: those the limiter lowered, and the least gain it
    // gave one (1 when none).
    std::int64_t lowered() const { return lowered_count; }
    double least_gain() const;

private:
    void take_coefficients(const std::int32_t* values, std::int32_t count);
    void take_row_need(std::int64_t need);
    std::int64_t sample_need(std::int64_t t) const;

    EncoderSettings settings;
    double factor;                // the fixed gain
    bool limit;                   // with the limiter
    double ceiling;               // of the 16-bit range, for the rows of coefficients
    std::int64_t counted;         // input samples, for the statistics
    std::int32_t row_shift = 0;   // levels: a row is 2^levels samples
    std::int32_t reach_rows = 0;  // rows either side whose need a row's gain keeps
    std::int64_t lookahead = 0;   // samples in before the first leaves
    std::unique_ptr<CodedAnalysis> analysis;

    // The limiter's state. Needs are gains in 1/65536, at most 65536.
    std::unique_ptr<std::int32_t[]> coefficients;  // chunk_size + burst from the analysis
    std::unique_ptr<std::int16_t[]> held;          // held_size samples not yet left
    std::int64_t held_size = 0;
    std::unique_ptr<std::int64_t[]> row_needs;  // need_size: each row's own need
    std::unique_ptr<std::int64_t[]> row_least;  // need_size: the least need within reach
    std::unique_ptr<std::int64_t[]> window;     // need_size rows: the sliding minimum's queue
    std::int64_t need_size = 0;
    std::int64_t window_first = 0;  // queue entries: rows, their needs rising
    std::int64_t window_count = 0;
    std::int64_t rows_in = 0;      // rows whose own need is known
    std::int64_t rows_ready = 0;   // rows whose least need within reach is known
    std::int32_t row_fill = 0;     // coefficients of the current row so far
    std::int32_t row_highest = 0;  // of the current row
    std::int32_t row_lowest = 0;   // of the current row
    std::int64_t fed = 0;          // samples taken
    std::int64_t left = 0;         // samples out
    std::int64_t sum = 0;          // the needs of the samples around the next to leave
    std::int64_t lowered_count = 0;
    std::int64_t least_sum = 0;  // the least sum over a lowered counted sample
};

}  // namespace vellox
