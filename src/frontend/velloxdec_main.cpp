// velloxdec's process entry: everything happens in run_decoder; the console is checked at the
// end.

#include "frontend/console.h"
#include "frontend/decoder_driver.h"
#include "frontend/program_start.h"

int main(int argc, char** argv) {
    if (!vellox::start_program()) return 1;
    return vellox::finish_console(vellox::run_decoder(argc, argv));
}
