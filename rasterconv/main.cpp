#include <string>
#include <vector>

#include "rasterconv/RasterToBmpConverter.h"

int main(int argc, char** argv) {
    velmora::RasterToBmpConverter converter;
    return converter.run(std::vector<std::string>(argv, argv + argc));
}
