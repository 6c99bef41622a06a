// The sound source base: opening the file or the given descriptor, and one-sample reads.

// File sizes and positions are 64-bit even where off_t would default to 32 bits.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "sources/sound_source.h"

#include <fcntl.h>      // ::open, ::fcntl, O_*
#include <sys/stat.h>   // ::fstat, S_IS*
#include <sys/types.h>  // off_t
#include <unistd.h>     // ::close

#include <cerrno>  // errno, EISDIR, ESPIPE

namespace vellox {

static_assert(sizeof(off_t) >= 8, "file sizes beyond 4 GiB must be representable");

SoundSource::SoundSource(const char* name) : file_name(name) {}

SoundSource::~SoundSource() {
    if (file != nullptr) std::fclose(file);
}

std::int16_t SoundSource::read_sample() {
    std::int16_t sample = 0;
    return read(&sample, 1) == 1 ? sample : 0;
}

int SoundSource::descriptor() const { return file != nullptr ? ::fileno(file) : -1; }

OpenResult SoundSource::open_file() {
    const bool by_name = given_descriptor < 0;
    // Opened without blocking, so that a pipe nobody writes to fails below instead of waiting
    // for a writer; the flag is cleared again before any read. A given descriptor is
    // duplicated, so that the source can close its own file like any other.
    const int descriptor = by_name ? ::open(file_name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                                   : ::fcntl(given_descriptor, F_DUPFD_CLOEXEC, 0);
    if (descriptor < 0) return OpenResult::failed(errno);
    struct stat info {};
    bool usable = ::fstat(descriptor, &info) == 0;
    if (usable && !S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode)) {
        // The driver needs the sample count before the first read: only what has a size is read.
        errno = S_ISDIR(info.st_mode) ? EISDIR : ESPIPE;
        usable = false;
    }
    if (usable && by_name) {
        const int flags = ::fcntl(descriptor, F_GETFL);
        usable = flags >= 0 && ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) == 0;
    }
    if (usable) {
        file = ::fdopen(descriptor, "rb");
        usable = file != nullptr;
    }
    if (!usable) {
        const int error_number = errno;
        ::close(descriptor);
        return OpenResult::failed(error_number);
    }
    off_t size = -1;
    if (::fseeko(file, 0, SEEK_END) != 0 || (size = ::ftello(file)) < 0 ||
        ::fseeko(file, 0, SEEK_SET) != 0) {
        return OpenResult::failed(errno);
    }
    file_size = static_cast<std::int64_t>(size);
    return OpenResult::opened();
}

}  // namespace vellox
