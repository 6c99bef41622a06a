// The process entry: everything happens in run_conversion.

#include "frontend/driver.h"

int main(int argc, char** argv) { return vellox::run_conversion(argc, argv); }
