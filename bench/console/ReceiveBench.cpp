// Receives one job from the service with the console's job processor and reports, as one JSON
// line, how long it took and how much the process's memory grew.
//
//   velmora-receive-bench SERVICE_BASE TOKEN JOB_ID PROFILE_DIR [QUEUE PRINTER_ID]
//
// Without a queue the job stops at its plain page files ("Ready"); with one (a queue of the
// scheduler named by CUPS_SERVER, whose printer id the job names) it is printed as well.
#include <sys/resource.h>

#include <QGuiApplication>
#include <pugixml.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "console/jobs/JobArray.h"
#include "console/jobs/LocalPrinterArray.h"
#include "console/jobs/Processor.h"
#include "console/jobs/QtJobPrinter.h"
#include "core/account/Permission.h"
#include "core/account/PermissionArray.h"
#include "core/account/Person.h"
#include "core/config/Config.h"
#include "core/net/InetProvider.h"
#include "platform/PlainRunLoop.h"

namespace {

using namespace velmora;
using namespace velmora::console;
using Clock = std::chrono::steady_clock;

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

long peakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

struct Forward : JobDispatcher {
    Processor* processor = nullptr;
    void dispatchJobs() override { processor->dispatchJobs(); }
};

struct Timing : ProcessorDelegate {
    Clock::time_point ready;
    Clock::time_point finished;
    int32_t last = -1;
    std::string error;
    void processor_ChangedJob(const Job& job) override {
        if (job.status() == Job::kReady)
            ready = Clock::now();
        if (job.status() == Job::kDone || job.status() == Job::kError) {
            finished = Clock::now();
            error = job.error();
        }
        last = job.status();
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 && argc != 7) {
        std::fprintf(stderr, "usage: %s SERVICE_BASE TOKEN JOB_ID PROFILE_DIR [QUEUE PRINTER_ID]\n",
                     argv[0]);
        return 2;
    }
    const std::string base = argv[1];
    const int jobId = std::atoi(argv[3]);
    const bool printing = argc == 7;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication application(argc, argv);

    Config config("/nonexistent");
    config.setService(base + "/tdService.asmx");
    config.setToken(argv[2]);
    Person user;
    InetProvider inet(config, user);
    PermissionArray permissions;
    permissions.addObject(Permission(std::nullopt, Permission::kAllow));
    LocalPrinterArray printers;
    if (printing) {
        printers.loadFromSystem();
        printers.updatePrinter(argv[5],
                               [&](LocalPrinter& printer) { printer.setPublicId(argv[6]); });
    }
    PlainRunLoop loop;
    QtJobPrinter jobPrinter(loop);
    Forward forward;
    const std::string profile = argv[4];
    JobArray jobs(forward, {[&] { return std::filesystem::path(profile); }, [] {}});
    Processor processor({loop, jobs, permissions, printers, inet, jobPrinter});
    forward.processor = &processor;
    Timing timing;
    processor.addDelegate(&timing);

    const auto headers = inet.dictionaryWithTDTokenHeader();
    std::string error;
    const auto reply = inet.downloadData(base + "/fastCheck3.aspx?d=", &headers, error);
    pugi::xml_document document;
    if (!reply || !document.load_string(reply->c_str())) {
        std::fprintf(stderr, "change check failed: %s\n", error.c_str());
        return 1;
    }
    // Only the job asked for: others of the account stay where they are.
    pugi::xml_node listed = document.child("response").child("jobs");
    for (pugi::xml_node job = listed.child("job"); job;) {
        const pugi::xml_node next = job.next_sibling("job");
        if (job.attribute("id").as_int() != jobId)
            listed.remove_child(job);
        job = next;
    }
    const long baseline = residentKiB();
    const auto start = Clock::now();
    loop.post([&] {
        jobs.parse(document.child("response").child("jobs"), true, false);
        if (jobs.getJob(jobId) == nullptr)
            loop.stop();
    });
    std::thread watcher([&] {
        while (!loop.isStopped()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            loop.post([&] {
                const bool stopAtReady = !printing && timing.last == Job::kReady;
                if (stopAtReady || timing.last == Job::kDone || timing.last == Job::kError)
                    loop.stop();
            });
        }
    });
    loop.run();
    watcher.join();
    const auto end = printing ? timing.finished : timing.ready;
    const bool ok = printing ? timing.last == Job::kDone : timing.ready != Clock::time_point{};
    std::printf(
        "{\"ok\": %s, \"seconds\": %.4f, \"baseline_rss_kib\": %ld, \"peak_rss_kib\": %ld, "
        "\"error\": \"%s\"}\n",
        ok ? "true" : "false", std::chrono::duration<double>(end - start).count(), baseline,
        peakKiB(), ok ? "" : timing.error.c_str());
    return ok ? 0 : 1;
}
