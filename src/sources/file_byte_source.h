#pragma once
// FileByteSource: an open input file as the decoder's byte source.

#include <cstdio>  // std::FILE

#include "acm/byte_stream.h"

namespace vellox {

class FileByteSource final : public ByteSource {
public:
    FileByteSource() = default;
    void attach(std::FILE* input) { file = input; }  // input: borrowed, open for reading
    bool read(std::uint8_t* bytes, std::size_t size, std::size_t* got) override;

    // errno of the first failed read, 0 when none failed.
    int error() const { return error_number; }

private:
    std::FILE* file = nullptr;  // borrowed
    int error_number = 0;
};

}  // namespace vellox
