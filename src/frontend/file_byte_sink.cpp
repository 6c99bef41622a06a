// Writing the encoder's bytes to the output file.

#include "frontend/file_byte_sink.h"

#include <cerrno>  // errno, EIO

namespace vellox {

std::size_t FileByteSink::write(const std::uint8_t* bytes, std::size_t size) {
    errno = 0;
    const std::size_t done = std::fwrite(bytes, 1, size, file);
    // errno after a failed stdio call; EIO when the library left it unset.
    if (done != size && error_number == 0) error_number = errno != 0 ? errno : EIO;
    return done;
}

}  // namespace vellox
