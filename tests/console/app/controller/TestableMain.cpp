// velmora for tests: the same program, which also takes the shared folder, the direct print
// server's port and the runtime folder from its options. Built with the tests, never installed.
#include "console/app/controller/ConsoleProgram.h"

int main(int argc, char** argv) {
    return velmora::console::ConsoleProgram::run(argc, argv, true);
}
