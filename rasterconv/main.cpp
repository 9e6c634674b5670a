#include <signal.h>

#include <string>
#include <vector>

#include "rasterconv/RasterToBmpConverter.h"

int main(int argc, char** argv) {
    // Under a file-size limit the kernel would end the process at the write that crosses it,
    // leaving the half-written page and an earlier job's file at its number behind; ignored,
    // that write fails with EFBIG and only the one page fails.
    ::signal(SIGXFSZ, SIG_IGN);
    velmora::RasterToBmpConverter converter;
    return converter.run(std::vector<std::string>(argv, argv + argc));
}
