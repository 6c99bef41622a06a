#pragma once
// StagedSource: a source that converts its samples a chunk at a time into a buffer of its own
// (libsndfile's decoded frames, the converting source's output) and hands them out from there,
// padded with zeros up to its count.

#include <cstdint>  // std::int16_t, std::int32_t
#include <memory>   // std::unique_ptr

#include "sources/sound_source.h"

namespace vellox {

class StagedSource : public SoundSource {
public:
    using SoundSource::SoundSource;

    // Hands out the staged samples, refilling as needed; past the last of them, zeros up to
    // total_samples. Returns how many of the count were due (the zeros for samples the source
    // could not make included), the rest of buffer being zeros.
    std::int32_t read(std::int16_t* buffer, std::int32_t count) final;

protected:
    // Makes the next samples into staged: staged_count of them, staged_next set to 0. False
    // when there are no more.
    virtual bool refill() = 0;

    std::unique_ptr<std::int16_t[]> staged;  // made by the kind's open
    std::int32_t staged_count = 0;
    std::int32_t staged_next = 0;  // the next one to hand out
};

}  // namespace vellox
