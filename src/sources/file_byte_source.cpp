// Reading the input file for the decoder.

#include "sources/file_byte_source.h"

#include <cerrno>  // errno, EIO

namespace vellox {

bool FileByteSource::read(std::uint8_t* bytes, std::size_t size, std::size_t* got) {
    errno = 0;
    *got = std::fread(bytes, 1, size, file);
    if (*got < size && std::ferror(file) != 0) {
        if (error_number == 0) error_number = errno != 0 ? errno : EIO;
        return false;
    }
    return true;
}

}  // namespace vellox
