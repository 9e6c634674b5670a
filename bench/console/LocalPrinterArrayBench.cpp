#include <benchmark/benchmark.h>

#include "console/jobs/LocalPrinterArray.h"
#include "tests/support/PrivateCupsd.h"

#include <memory>
#include <string>

namespace velmora::console {
namespace {

// Reading 50 queues (two papers each, one PPD fetched per queue) from a private scheduler.
void loadFiftyQueues(benchmark::State& state) {
    test::PrivateCupsd cupsd;
    if (!cupsd.running()) {
        state.SkipWithError(cupsd.failure().c_str());
        return;
    }
    const std::string ppd = std::string(VELMORA_FIXTURE_PPD_DIR) + "/duplex-laser.ppd";
    for (int queue = 1; queue <= 50; ++queue) {
        const auto added = cupsd.command({"lpadmin", "-p", "Queue_" + std::to_string(queue), "-P",
                                          ppd, "-v", "file:///dev/null", "-E"});
        if (added.exitStatus != 0) {
            state.SkipWithError(added.standardError.c_str());
            return;
        }
    }
    LocalPrinterArray printers(cupsd.socketPath());
    for (auto _ : state) {
        if (!printers.loadFromSystem() || printers.count() != 50) {
            state.SkipWithError("the 50 queues were not read");
            return;
        }
    }
}
BENCHMARK(loadFiftyQueues)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace
}  // namespace velmora::console
