// Closed standard descriptors, filled with /dev/null.

#include "frontend/standard_descriptors.h"

#include <fcntl.h>   // ::open, ::fcntl, O_*
#include <unistd.h>  // ::close

#include <cerrno>  // errno, EBADF

namespace vellox {

bool open_closed_standard_descriptors() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number is the closed one, as the lower ones are open by now.
        const int opened = ::open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
        if (opened != descriptor) {
            if (opened >= 0) ::close(opened);
            return false;
        }
    }
    return true;
}

}  // namespace vellox
