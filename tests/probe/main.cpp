// hbprobe: a command-line driver of the main road, for the end-to-end tests.
// Usage errors exit 2 with a usage line; failures exit 1 with the message on
// standard error.

#include "tests/probe/Probe.h"

int main(int argc, char** argv) {
    return probe::main(argc, argv);
}
