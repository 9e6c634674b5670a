#include <benchmark/benchmark.h>

#include "console/jobs/JobArray.h"

#include <memory>
#include <string>

namespace velmora::console {
namespace {

class NoDispatch : public JobDispatcher {
  public:
    void dispatchJobs() override {}
};

// "jobs" with `count` job elements numbered from `first`, each with one page.
std::unique_ptr<pugi::xml_document> jobList(int first, int count) {
    auto document = std::make_unique<pugi::xml_document>();
    pugi::xml_node jobs = document->append_child("jobs");
    for (int id = first; id < first + count; ++id) {
        pugi::xml_node job = jobs.append_child("job");
        job.append_attribute("id") = id;
        job.append_child("document").text() = ("Document " + std::to_string(id)).c_str();
        job.append_child("printer").text() = "0f1e2d3c-printer";
        pugi::xml_node person = job.append_child("printing-person");
        person.append_attribute("id") = 17;
        person.append_child("login").text() = "bob";
        pugi::xml_node page = job.append_child("page");
        page.append_attribute("page-number") = 1;
        page.append_child("url").text() = "https://service.example/page";
    }
    return document;
}

// A change check that brings 1,000 jobs into a list already holding `range(1)` jobs (10,000 is
// the target; 100,000 shows the time does not grow with the list): `range(0)` of them are new,
// the others refresh listed jobs.
void mergeIntoLongList(benchmark::State& state) {
    const int merged = 1000;
    const int fresh = static_cast<int>(state.range(0));
    const int listed = static_cast<int>(state.range(1));
    const auto initial = jobList(1, listed);
    const auto incoming = jobList(listed - (merged - fresh) + 1, merged);
    NoDispatch dispatcher;
    for (auto _ : state) {
        state.PauseTiming();
        auto jobs = std::make_unique<JobArray>(dispatcher, JobArray::Environment{});
        jobs->parse(initial->first_child(), false, false);
        state.ResumeTiming();
        jobs->parse(incoming->first_child(), true, true);
        benchmark::DoNotOptimize(jobs->count());
        state.PauseTiming();
        jobs.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(mergeIntoLongList)
    ->Args({1000, 10000})
    ->Args({0, 10000})
    ->Args({1000, 100000})
    ->Unit(benchmark::kMillisecond);

// Opening direct jobs next to 10,000 listed service jobs: the free id is found without a walk
// over the list.
void openDirectJobBesideLongList(benchmark::State& state) {
    const auto initial = jobList(1, 10000);
    pugi::xml_document data;
    data.append_child("data").append_child("job");
    NoDispatch dispatcher;
    JobArray jobs(dispatcher, JobArray::Environment{});
    jobs.parse(initial->first_child(), false, false);
    for (auto _ : state) {
        const std::optional<int> id = jobs.startReceivingPtpJob(data.first_child());
        benchmark::DoNotOptimize(id);
        state.PauseTiming();
        jobs.directJobReceived(*id);
        state.ResumeTiming();
    }
}
BENCHMARK(openDirectJobBesideLongList)->Iterations(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velmora::console
