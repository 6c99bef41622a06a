// The passes that set the input's level: one analysis of the input, then checks of what the
// conversion will see, each a pass over the whole input with the encoder's analysis alone.

#include "frontend/level_passes.h"

#include <algorithm>  // std::min
#include <cerrno>     // errno
#include <cmath>      // std::ceil, std::log10
#include <cstdint>    // std::int16_t, std::int32_t, std::int64_t
#include <cstdio>     // std::fprintf

#include "acm/byte_stream.h"
#include "codec/input_level.h"
#include "common/alloc.h"
#include "frontend/errors.h"
#include "frontend/input_source.h"
#include "frontend/messages.h"

namespace vellox {

namespace {

// The limiter's first ceiling, and the most passes that lower it before the conversion takes
// what it has (and reports what it clips, as without the limiter).
constexpr double first_ceiling = 0.995;
constexpr int most_limit_passes = 12;
// "--fit" takes the gain its first pass finds, then lowers it by a step of the note's until a
// pass finds nothing clipped.
constexpr int most_fit_passes = 12;

struct PassResult {
    ClipStatistics clips;
    std::int64_t lowered = 0;  // samples the limiter lowered
};

// The input opened again from its start, and the conversion over it made again. False after
// printing why.
bool reopen(const InputPlace& input, std::unique_ptr<SoundSource>& source,
            std::unique_ptr<ConvertedSource>& converted) {
    converted.reset();  // before the source it reads
    source = open_input_source(input.name, input.type, input.descriptor);
    if (source == nullptr) return false;
    if (!input.converted) return true;
    converted = make_object<ConvertedSource>(*source, input.downmix, input.rate);
    const OpenResult opened =
        converted != nullptr ? converted->open() : OpenResult::refused(Refusal::no_memory);
    if (opened.ok()) return true;
    print_open_failure(opened, input.name);
    converted.reset();
    return false;
}

// One pass: the whole signal through the level and the analysis. Reopens the input at the
// end. False after printing why.
bool run_pass(const EncoderSettings& settings, const InputPlace& input, double gain_db, bool limit,
              double ceiling, std::unique_ptr<SoundSource>& source,
              std::unique_ptr<ConvertedSource>& converted, PassResult& result) {
    SoundSource* signal = converted != nullptr ? converted.get() : source.get();
    const std::int32_t samples = signal->total_samples;
    InputLevel level(settings, gain_db, limit, ceiling, samples);
    EncoderSettings analysis = settings;
    analysis.analysis_only = true;
    MemorySink unused;  // nothing is written
    Encoder scan(analysis, samples, unused);
    std::unique_ptr<std::int16_t[]> chunk = allocate_array<std::int16_t>(Encoder::chunk_size);
    std::unique_ptr<std::int16_t[]> leveled = allocate_array<std::int16_t>(Encoder::chunk_size);
    if (scan.make_filter_bank() != VELLOX_OK) {
        print_error(message_text(Message::cannot_create_coder), nullptr);
        return false;
    }
    if (scan.make_buffers() != VELLOX_OK || level.init() != VELLOX_OK || !chunk || !leveled) {
        print_error(message_text(Message::cannot_allocate_memory), nullptr);
        return false;
    }
    for (std::int64_t to_feed = samples + level.delay() + scan.delay(); to_feed > 0;) {
        const auto n = static_cast<std::int32_t>(
            to_feed < Encoder::chunk_size ? to_feed : Encoder::chunk_size);
        (void)signal->read(chunk.get(), n);
        (void)scan.feed(leveled.get(), level.process(chunk.get(), n, leveled.get()));
        to_feed -= n;
    }
    if (signal->read_error() != 0) {
        errno = signal->read_error();
        print_system_error(input.name);
        return false;
    }
    (void)scan.finish();
    result.clips = scan.clips();
    result.lowered = level.lowered();
    // The input again from its start, the same as before.
    if (!reopen(input, source, converted)) return false;
    signal = converted != nullptr ? converted.get() : source.get();
    if (signal->total_samples != samples) {
        print_error(message_text(Message::input_changed), input.name);
        return false;
    }
    return true;
}

}  // namespace

bool level_notes_due(const LevelPlan& plan, const InputLevel& level) {
    return plan.fit_db < 0.0 || (plan.limit && level.lowered() > 0);
}

void print_level_notes(const LevelPlan& plan, const InputLevel& level, std::int64_t samples) {
    if (plan.fit_db < 0.0) std::fprintf(stderr, message_text(Message::fit_applied), plan.fit_db);
    if (plan.limit && level.lowered() > 0 && samples > 0) {
        const double share =
            100.0 * static_cast<double>(level.lowered()) / static_cast<double>(samples);
        // "At most": the deepest cut rounded up to the decimal shown.
        const double deepest = std::ceil(-200.0 * std::log10(level.least_gain())) / 10.0;
        std::fprintf(stderr, message_text(Message::limit_applied), share, deepest);
    }
}

bool plan_level(const EncoderSettings& settings, const InputPlace& input, double gain_db, bool fit,
                bool limit, std::unique_ptr<SoundSource>& source,
                std::unique_ptr<ConvertedSource>& converted, LevelPlan& plan) {
    plan.gain_db = gain_db;
    plan.limit = limit;
    PassResult result;
    if (fit) {
        // The largest gain of at most 0 dB, in steps of 0.1 dB, at which nothing is clipped.
        if (!run_pass(settings, input, gain_db, false, 1.0, source, converted, result))
            return false;
        double fit_db = fitting_gain_db(result.clips);
        for (int pass = 0; fit_db < 0.0 && pass < most_fit_passes; ++pass) {
            if (!run_pass(settings, input, gain_db + fit_db, false, 1.0, source, converted, result))
                return false;
            if (result.clips.count == 0) break;
            fit_db = std::min(fit_db - 0.1, fit_db + fitting_gain_db(result.clips));
        }
        plan.fit_db = fit_db;
        plan.gain_db = gain_db + fit_db;
    }
    if (limit) {
        // Lowered as long as a pass finds a coefficient clipped, by at least 1% each time.
        double ceiling = first_ceiling;
        for (int pass = 0; pass < most_limit_passes; ++pass) {
            if (!run_pass(settings, input, plan.gain_db, true, ceiling, source, converted, result))
                return false;
            if (result.clips.count == 0) break;
            ceiling *= std::min(0.99, gain_factor(fitting_gain_db(result.clips)));
        }
        plan.ceiling = ceiling;
    }
    return true;
}

}  // namespace vellox
