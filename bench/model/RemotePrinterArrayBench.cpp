// Time to merge a "favorites" element of N printers into an empty list, and to merge it again
// into the full list (every printer known: an update in place). The cost per printer should not
// grow with N; lists beyond RemotePrinterArray::kMaxPrinters are cut, so N = 100000 shows what a
// hostile reply costs.

#include <benchmark/benchmark.h>

#include <pugixml.hpp>

#include <stdexcept>
#include <string>

#include "core/model/RemotePrinterArray.h"

namespace {

std::string favourites(int64_t count) {
    std::string text = "<favorites default=\"p0\">";
    for (int64_t i = 0; i < count; ++i) {
        text += "<printer online=\"true\" changed=\"240101120000\"><public-id>" +
                std::to_string(i) +
                "-4e61-9a0c-2f4b8d6e1a01</public-id><title>Printer</title><location>Hall"
                "</location><details><capabilities pack=\"true\" enc-type=\"AES\" "
                "transport=\"bmp\" collate=\"1\" color=\"1\" duplex=\"0\" copies=\"10\"/>"
                "<paper-formats default=\"A4\"><paper name=\"A4\" format=\"A4\" width=\"2100\" "
                "height=\"2970\"/><paper name=\"Letter\" format=\"Letter\" width=\"2160\" "
                "height=\"2790\"/></paper-formats></details></printer>";
    }
    return text + "</favorites>";
}

void loadFavourites(pugi::xml_document& document, int64_t count) {
    const std::string text = favourites(count);
    if (!document.load_buffer(text.data(), text.size()))
        throw std::runtime_error("the generated list does not parse");
}

void mergeIntoEmptyList(benchmark::State& state) {
    pugi::xml_document document;
    loadFavourites(document, state.range(0));
    for (auto _ : state) {
        velmora::RemotePrinterArray printers;
        printers.parse(document.document_element(), false);
        benchmark::DoNotOptimize(printers.count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void mergeIntoKnownList(benchmark::State& state) {
    pugi::xml_document document;
    loadFavourites(document, state.range(0));
    velmora::RemotePrinterArray printers;
    printers.parse(document.document_element(), false);
    for (auto _ : state) {
        printers.parse(document.document_element(), true);
        benchmark::DoNotOptimize(printers.count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(mergeIntoEmptyList)
    ->Arg(1000)
    ->Arg(5000)
    ->Arg(20000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(mergeIntoKnownList)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
