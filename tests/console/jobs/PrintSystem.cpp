#include "tests/console/jobs/PrintSystem.h"

#include <cups/cups.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <thread>

namespace velmora::test {

namespace {

struct IppDeleter {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppDeleter>;

std::string attributeText(ipp_attribute_t* attribute) {
    std::string text;
    for (int i = 0; i < ippGetCount(attribute); ++i) {
        if (i > 0)
            text += ",";
        switch (ippGetValueTag(attribute)) {
            case IPP_TAG_INTEGER:
            case IPP_TAG_ENUM:
                text += std::to_string(ippGetInteger(attribute, i));
                break;
            case IPP_TAG_BOOLEAN:
                text += ippGetBoolean(attribute, i) ? "true" : "false";
                break;
            default:
                if (const char* value = ippGetString(attribute, i, nullptr))
                    text += value;
        }
    }
    return text;
}

}  // namespace

void PrintSystem::start() {
    instance_ = std::make_unique<PrintSystem>();
    ::setenv("CUPS_SERVER", instance_->cupsd_.socketPath().c_str(), 1);
    ::chmod(instance_->outputs_.path().c_str(), 0777);
}

void PrintSystem::stop() {
    instance_.reset();
}

std::filesystem::path PrintSystem::addFileQueue(const std::string& name) {
    const std::filesystem::path output = outputs_.path() / (name + ".pdf");
    const auto added =
        cupsd_.command({"lpadmin", "-p", name, "-E", "-v", "file://" + output.string(), "-P",
                        std::string(VELMORA_FIXTURE_PPD_DIR) + "/pdf-file.ppd"});
    if (added.exitStatus != 0)
        throw std::runtime_error("lpadmin failed: " + added.standardError);
    return output;
}

bool PrintSystem::waitUntilIdle(double seconds) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto listed = cupsd_.command({"lpstat", "-o"});
        if (listed.exitStatus == 0 && listed.standardOutput.empty())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

int PrintSystem::jobCount() const {
    const auto listed = cupsd_.command({"lpstat", "-W", "all", "-o"});
    std::istringstream lines(listed.standardOutput);
    std::string line;
    int count = 0;
    while (std::getline(lines, line))
        count += line.empty() ? 0 : 1;
    return count;
}

std::map<std::string, std::string> PrintSystem::lastJobAttributes(const std::string& queue) const {
    Ipp request(ippNewRequest(IPP_OP_GET_JOBS));
    const std::string uri = "ipp://localhost/printers/" + queue;
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 uri.c_str());
    // The job's owner: the scheduler hides the job's name from anyone else.
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr,
                 "completed");
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "all");
    Ipp response(cupsDoRequest(CUPS_HTTP_DEFAULT, request.release(), "/"));
    std::map<std::string, std::string> newest;
    int newestId = 0;
    std::map<std::string, std::string> current;
    int currentId = 0;
    const auto finishJob = [&] {
        if (currentId > newestId) {
            newestId = currentId;
            newest = current;
        }
        current.clear();
        currentId = 0;
    };
    for (ipp_attribute_t* attribute = response ? ippFirstAttribute(response.get()) : nullptr;
         attribute != nullptr; attribute = ippNextAttribute(response.get())) {
        if (ippGetName(attribute) == nullptr) {
            finishJob();
            continue;
        }
        if (ippGetGroupTag(attribute) != IPP_TAG_JOB)
            continue;
        const std::string name = ippGetName(attribute);
        current[name] = attributeText(attribute);
        if (name == "job-id")
            currentId = ippGetInteger(attribute, 0);
    }
    finishJob();
    return newest;
}

std::vector<PrintSystem::PdfPage> PrintSystem::pdfPages(const std::filesystem::path& pdf) {
    const auto info = ChildProcess::run({"pdfinfo", "-f", "1", "-l", "100000", pdf.string()},
                                        pdf.parent_path(), {}, 60);
    std::vector<PdfPage> pages;
    const std::regex pageLine(R"(Page\s+\d+\s+size:\s+([0-9.]+)\s+x\s+([0-9.]+)\s+pts)");
    std::istringstream lines(info.standardOutput);
    std::string line;
    while (std::getline(lines, line)) {
        std::smatch match;
        if (std::regex_search(line, match, pageLine))
            pages.push_back({std::stod(match[1]), std::stod(match[2])});
    }
    return pages;
}

QImage PrintSystem::renderPage(const std::filesystem::path& pdf, int page, int dpi) {
    const std::filesystem::path prefix = pdf.parent_path() / ("render-" + std::to_string(page));
    ChildProcess::run({"pdftoppm", "-r", std::to_string(dpi), "-f", std::to_string(page), "-l",
                       std::to_string(page), "-singlefile", "-png", pdf.string(), prefix.string()},
                      pdf.parent_path(), {}, 60);
    QImage image(QString::fromStdString(prefix.string() + ".png"));
    std::filesystem::remove(prefix.string() + ".png");
    return image;
}

QRect PrintSystem::darkBox(const QImage& image) {
    int left = image.width();
    int top = image.height();
    int right = -1;
    int bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) < 128) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

}  // namespace velmora::test
