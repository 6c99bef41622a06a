// velloxdec's process entry: everything happens in run_decoder.

#include "frontend/decoder_driver.h"
#include "frontend/program_start.h"

int main(int argc, char** argv) {
    if (!vellox::start_program()) return 1;
    return vellox::run_decoder(argc, argv);
}
