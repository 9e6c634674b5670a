#include "packaging/cups/BackendJob.h"

#include <cups/cups.h>

#include <charconv>

#include "console/remote/QueueNames.h"

namespace velmora::backend {

namespace {

std::optional<int> positiveNumber(const std::string& text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 1)
        return std::nullopt;
    return value;
}

std::map<std::string, std::string> parseOptions(const std::string& text) {
    cups_option_t* options = nullptr;
    const int count = cupsParseOptions(text.c_str(), 0, &options);
    std::map<std::string, std::string> parsed;
    for (int index = 0; index < count; ++index)
        parsed[options[index].name] = options[index].value;
    cupsFreeOptions(count, options);
    return parsed;
}

bool isTrue(const std::string& value) {
    return value == "true" || value == "True" || value == "yes" || value == "on" || value == "1";
}

std::optional<std::string> duplexFromSides(const std::string& sides) {
    if (sides == "one-sided")
        return "None";
    if (sides == "two-sided-long-edge")
        return "DuplexNoTumble";
    if (sides == "two-sided-short-edge")
        return "DuplexTumble";
    return std::nullopt;
}

}  // namespace

std::optional<BackendJob> BackendJob::parse(std::span<const std::string> arguments,
                                            std::string queue, std::string& error) {
    if (arguments.size() != 5 && arguments.size() != 6) {
        error = "Usage: velmora job-id user title copies options [file]";
        return std::nullopt;
    }
    BackendJob job;
    const auto jobId = positiveNumber(arguments[0]);
    const auto copies = positiveNumber(arguments[3]);
    if (!jobId || !copies) {
        error = "Bad job id or copies";
        return std::nullopt;
    }
    if (!console::QueueNames::hasOurForm(queue)) {
        error = "The queue " + queue + " is not a queue of a remote printer";
        return std::nullopt;
    }
    job.jobId = *jobId;
    job.user = arguments[1];
    job.title = arguments[2];
    job.copies = *copies;
    job.options = parseOptions(arguments[4]);
    if (arguments.size() == 6)
        job.file = arguments[5];
    job.queue = std::move(queue);
    return job;
}

std::vector<std::string> BackendJob::senderOptions(const std::string& spoolDir) const {
    std::vector<std::string> list = {
        "SpoolDir=" + spoolDir,
        "User=" + user,
        "DestinationPrinterID=" + queue,
        "com.apple.print.JobInfo.PMJobName=" + title,
        // The PPD has every copy rendered into the raster; the sender, told the queue, sends
        // the job as one copy, so the count is applied once.
        "com.apple.print.PrintSettings.PMCopies..n.=" + std::to_string(copies),
    };
    const auto option = [this](const char* name) -> std::optional<std::string> {
        const auto found = options.find(name);
        return found == options.end() ? std::nullopt : std::optional(found->second);
    };
    if (const auto media = option("media").value_or(option("PageSize").value_or(""));
        !media.empty())
        list.push_back("media=" + media);
    if (const auto slot = option("InputSlot"))
        list.push_back("InputSlot=" + *slot);
    if (const auto duplex = option("Duplex"))
        list.push_back("Duplex=" + *duplex);
    else if (const auto sides = option("sides"); sides && duplexFromSides(*sides))
        list.push_back("Duplex=" + *duplexFromSides(*sides));
    const auto collate = option("Collate");
    const auto handling = option("multiple-document-handling");
    if ((collate && isTrue(*collate)) ||
        (!collate && handling == "separate-documents-collated-copies"))
        list.push_back("com.apple.print.PrintSettings.PMCopyCollate..b.=1");
    return list;
}

}  // namespace velmora::backend
