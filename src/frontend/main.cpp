// The process entry: everything happens in run_conversion, or in the batch form's runner; the
// console is checked at the end.

#include "frontend/batch_programs.h"
#include "frontend/batch_settings.h"
#include "frontend/console.h"
#include "frontend/driver.h"
#include "frontend/program_start.h"

int main(int argc, char** argv) {
    if (!vellox::start_program()) return 1;
    return vellox::finish_console(vellox::asks_for_batch(argc, argv)
                                      ? vellox::run_encoder_batch(argc, argv)
                                      : vellox::run_conversion(argc, argv));
}
