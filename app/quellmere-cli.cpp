// quellmere-cli: a Quellmere conversation on standard input and output, and
// the message cipher for scripts.
#include "adapters/processhardening.h"
#include "cli/cliprogram.h"

int main(int argc, char** argv) {
    ForbidCoreDumps();
    return RunCli(argc, argv);
}
