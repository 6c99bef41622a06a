#pragma once
// FileByteSink: the output file as the encoder's byte sink.

#include <cstdio>  // std::FILE

#include "acm/byte_stream.h"

namespace vellox {

class FileByteSink final : public ByteSink {
public:
    FileByteSink() = default;
    void attach(std::FILE* output) { file = output; }  // output: borrowed, open for writing
    std::size_t write(const std::uint8_t* bytes, std::size_t size) override;

    // errno of the first failed write, 0 when none failed.
    int error() const { return error_number; }

private:
    std::FILE* file = nullptr;  // borrowed
    int error_number = 0;
};

}  // namespace vellox
