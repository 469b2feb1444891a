// quellmere-cli: a Quellmere conversation on standard input and output, and
// the message cipher for scripts.
#include "cli/cliprogram.h"

int main(int argc, char** argv) { return RunCli(argc, argv); }
