// Progress marks: the console's "#" and the job channel's count.

#include "frontend/progress_marks.h"

#include "frontend/job_channel.h"

namespace vellox {

void ProgressMarks::mark(std::int64_t done) {
    if (console != nullptr) {
        std::fputc('#', console);
        std::fflush(console);
    }
    report_job_progress(done < total ? done : total, total);
}

void ProgressMarks::finish() {
    if (console != nullptr) std::fputs("#\n", console);
}

}  // namespace vellox
