// velmora: the console. With --headless it runs without a window, on a print server.
#include "console/app/controller/ConsoleProgram.h"

int main(int argc, char** argv) {
    return velmora::console::ConsoleProgram::run(argc, argv, false);
}
