// The process entry: everything happens in run_conversion; the console is checked at the end.

#include "frontend/console.h"
#include "frontend/driver.h"
#include "frontend/program_start.h"

int main(int argc, char** argv) {
    if (!vellox::start_program()) return 1;
    return vellox::finish_console(vellox::run_conversion(argc, argv));
}
