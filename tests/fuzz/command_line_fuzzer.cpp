// Arbitrary argument vectors through the command-line parser: words are the input split at
// zero bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frontend/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words{"vellox"};
    std::string word;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word.push_back(static_cast<char>(data[i]));
        }
    }
    words.push_back(word);
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    argv.push_back(nullptr);

    vellox::ConversionSettings settings;
    const vellox::ParseOutcome outcome =
        vellox::parse_command_line(static_cast<int>(words.size()), argv.data(), settings);
    if (outcome == vellox::ParseOutcome::accepted) {
        // Whatever is accepted lies in range.
        if (settings.levels < 0 || settings.levels > 15 || settings.subblocks < 1 ||
            settings.subblocks > 4095 || settings.filter_length < 3 ||
            (settings.filter_kind == 'D' && settings.filter_length > 806) ||
            (settings.filter_kind == 'O' && settings.filter_length > 402) ||
            settings.snd_file_name == nullptr || settings.acm_file_name == nullptr ||
            (settings.filter_kind == 'C' && settings.filter_file_name == nullptr)) {
            __builtin_trap();
        }
        // A rate the header cannot hold only with -r; a conversion only of an input whose kind
        // may state its layout.
        const bool layout_stated = settings.snd_type == vellox::SoundType::automatic ||
                                   settings.snd_type == vellox::SoundType::wav;
        if ((settings.resample &&
             (settings.resample_rate < 8000 || settings.resample_rate > 192000 ||
              (settings.resample_rate > 65535 && !settings.rate_given))) ||
            ((settings.resample || settings.downmix) && !layout_stated)) {
            __builtin_trap();
        }
    }
    return 0;
}
