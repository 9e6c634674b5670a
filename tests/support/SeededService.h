#pragma once

#include <string>
#include <vector>

#include "tests/support/RefServiceProcess.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::test {

// The seed file and the service's log, in a scratch folder that outlives the service.
struct SeedFolder {
    SeedFolder(const std::string& scratchName, const std::string& seed) : folder(scratchName) {
        ScratchDirectory::writeFile(folder / "seed.json", seed);
    }
    ScratchDirectory folder;
};

// The reference service of one test suite, started from a seed text. Suites hold it as a static
// and reset it before each test.
class SeededService : private SeedFolder, public RefServiceProcess {
  public:
    SeededService(const std::string& scratchName, const std::string& seed)
        : SeedFolder(scratchName, seed),
          RefServiceProcess(folder / "seed.json", std::vector<std::string>{},
                            folder / "service.log") {}
};

}  // namespace velmora::test
