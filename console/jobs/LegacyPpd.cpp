#include "console/jobs/LegacyPpd.h"

#include <unistd.h>

#include <memory>

// libcups offers no replacement for reading a PPD's own entries.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>

namespace velmora::console {

namespace {

struct PpdCloser {
    void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};

// The copy of the PPD that libcups fetched into a temporary file, removed when done.
class TemporaryPpdFile {
  public:
    TemporaryPpdFile(http_t* connection, const std::string& queue) {
        const char* path = cupsGetPPD2(connection, queue.c_str());
        if (path != nullptr)
            path_ = path;
    }
    ~TemporaryPpdFile() {
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    TemporaryPpdFile(const TemporaryPpdFile&) = delete;
    TemporaryPpdFile& operator=(const TemporaryPpdFile&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace

bool LegacyPpd::hasDefaultDuplex(http_t* connection, const std::string& queue) {
    const TemporaryPpdFile file(connection, queue);
    if (file.path().empty())
        return false;
    const std::unique_ptr<ppd_file_t, PpdCloser> ppd(ppdOpenFile(file.path().c_str()));
    return ppd != nullptr && ppdFindAttr(ppd.get(), "DefaultDuplex", nullptr) != nullptr;
}

}  // namespace velmora::console
