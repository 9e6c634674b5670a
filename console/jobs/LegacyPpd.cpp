#include "console/jobs/LegacyPpd.h"

#include "platform/UniqueFd.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

// libcups offers no replacement for reading a PPD's own entries.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>

namespace velmora::console {

namespace {

struct PpdCloser {
    void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PpdFile = std::unique_ptr<ppd_file_t, PpdCloser>;

// The scheduler's copy of the queue's PPD, in a nameless temporary file nobody else can open.
PpdFile fetch(http_t* connection, const std::string& queue) {
    UniqueFd file(::open(std::filesystem::temp_directory_path().c_str(),
                         O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!file)
        return nullptr;
    const std::string resource = "/printers/" + queue + ".ppd";
    if (cupsGetFd(connection, resource.c_str(), file.get()) != HTTP_STATUS_OK ||
        ::lseek(file.get(), 0, SEEK_SET) != 0)
        return nullptr;
    // ppdOpenFd closes the descriptor it is given: it gets a duplicate of its own.
    const int handedOver = ::fcntl(file.get(), F_DUPFD_CLOEXEC, 0);
    return handedOver >= 0 ? PpdFile(ppdOpenFd(handedOver)) : nullptr;
}

std::map<std::string, std::string> paperTitles(ppd_file_t* ppd) {
    std::map<std::string, std::string> titles;
    ppd_option_t* pageSize = ppdFindOption(ppd, "PageSize");
    if (pageSize == nullptr)
        return titles;
    for (int index = 0; index < pageSize->num_choices; ++index) {
        const ppd_choice_t& choice = pageSize->choices[index];
        const pwg_media_t* media = pwgMediaForPPD(choice.choice);
        if (media != nullptr && media->pwg != nullptr && choice.text[0] != '\0')
            titles.emplace(media->pwg, choice.text);
    }
    return titles;
}

}  // namespace

std::optional<LegacyPpd::Facts> LegacyPpd::read(http_t* connection, const std::string& queue) {
    const PpdFile ppd = fetch(connection, queue);
    if (ppd == nullptr)
        return std::nullopt;
    Facts facts;
    facts.hasDefaultDuplex = ppdFindAttr(ppd.get(), "DefaultDuplex", nullptr) != nullptr;
    facts.paperTitles = paperTitles(ppd.get());
    return facts;
}

}  // namespace velmora::console
