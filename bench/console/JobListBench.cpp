#include <benchmark/benchmark.h>

#include <QApplication>
#include <QHeaderView>
#include <QTableView>

#include <cstdlib>

#include <memory>
#include <string>

#include "console/app/ui/JobTableModel.h"
#include "console/app/ui/Translation.h"
#include "console/jobs/JobArray.h"
#include "console/jobs/LocalPrinterArray.h"
#include "console/service/ConsoleConfig.h"

namespace velmora::console {
namespace {

class NoDispatch : public JobDispatcher {
  public:
    void dispatchJobs() override {}
};

// A job list of `count` service jobs, merged the way a change check brings them.
void fill(JobArray& jobs, int count) {
    pugi::xml_document document;
    pugi::xml_node list = document.append_child("jobs");
    for (int id = 1; id <= count; ++id) {
        pugi::xml_node job = list.append_child("job");
        job.append_attribute("id") = id;
        job.append_child("document").text() = ("Document " + std::to_string(id)).c_str();
        job.append_child("printer").text() = "0f1e2d3c-printer";
        job.append_child("started").text() = "240131120000";
        pugi::xml_node person = job.append_child("printing-person");
        person.append_attribute("id") = 17;
        person.append_child("nick").text() = "Bob";
        pugi::xml_node page = job.append_child("page");
        page.append_attribute("page-number") = 1;
        page.append_child("url").text() = "https://service.example/page";
    }
    jobs.parse(list, true, false);
}

// The job list window's model reload: the rows rebuilt from the list and the filter, then the cells
// of one screenful (30 rows) read as the table draws them. `range(1)` 1 hides the "Done" and
// "Rejected" states, so every job is checked against a filter that lists something.
void reloadJobList(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    NoDispatch dispatcher;
    JobArray jobs(dispatcher, {[] { return std::filesystem::path("/nonexistent"); }, [] {}});
    fill(jobs, count);
    ConsoleConfig config("/nonexistent");
    if (state.range(1) != 0)
        config.setJobFilter("Done,Rejected");
    LocalPrinterArray printers;
    Translation translation(config);
    JobTableModel model(jobs, config, printers, translation);
    for (auto _ : state) {
        model.reload();
        for (int row = 0; row < 30 && row < model.rowCount(); ++row) {
            for (int column = 0; column < JobTableModel::kColumnCount; ++column)
                benchmark::DoNotOptimize(model.data(model.index(row, column), Qt::DisplayRole));
        }
    }
    state.counters["rows"] = model.rowCount();
}
// The same reload seen through the window's table view on the offscreen platform: the model
// reset, the view's header and selection rebuilt, and one screenful painted.
void reloadJobTable(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    NoDispatch dispatcher;
    JobArray jobs(dispatcher, {[] { return std::filesystem::path("/nonexistent"); }, [] {}});
    fill(jobs, count);
    ConsoleConfig config("/nonexistent");
    config.setJobFilter("Done,Rejected");
    LocalPrinterArray printers;
    Translation translation(config);
    JobTableModel model(jobs, config, printers, translation);
    QTableView view;
    view.setModel(&model);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.verticalHeader()->hide();
    view.resize(720, 360);
    view.show();
    for (auto _ : state) {
        model.reload();
        view.selectRow(0);
        view.repaint();
    }
    state.counters["rows"] = model.rowCount();
}
BENCHMARK(reloadJobTable)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK(reloadJobList)
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Args({100000, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora::console

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
