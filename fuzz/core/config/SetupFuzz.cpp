// The setup loader on arbitrary text. Whatever it accepts must save and load back to the very
// same settings and the very same file.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "core/config/Config.h"
#include "core/xml/XmlHelpers.h"
#include "platform/Logger.h"

namespace {

// Forced-update lines would otherwise go to the system log on every input.
class DiscardingSink : public velmora::LogSink {
  public:
    void write(velmora::LogLevel, std::string_view, std::string_view, std::string_view) override {}
};

std::string savedText(const velmora::Config& config) {
    pugi::xml_document document;
    config.saveSetupProperties(document.append_child("setup"));
    return velmora::xmlToString(document);
}

bool sameSettings(const velmora::Config& a, const velmora::Config& b) {
    return a.token() == b.token() && a.service() == b.service() && a.profile() == b.profile() &&
           a.defaultPrinterId() == b.defaultPrinterId() &&
           a.defaultPaperFormat() == b.defaultPaperFormat() &&
           a.customPaperWidth() == b.customPaperWidth() &&
           a.customPaperHeight() == b.customPaperHeight() &&
           a.defaultBinCode() == b.defaultBinCode() && a.encryption() == b.encryption() &&
           a.encryptionPassword() == b.encryptionPassword() &&
           a.notifyOnCompletion() == b.notifyOnCompletion();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto previous = velmora::Logger::setSink(std::make_shared<DiscardingSink>());
    (void)previous;

    std::string_view text(reinterpret_cast<const char*>(data), size);
    velmora::Config loaded("/nonexistent");
    std::string error;
    if (!loaded.loadSetupText(text, error)) {
        if (error.empty())
            std::abort();
        return 0;
    }
    if (loaded.customPaperWidth() < 1 || loaded.customPaperHeight() < 1 || loaded.service().empty())
        std::abort();

    std::string first = savedText(loaded);
    velmora::Config reloaded("/nonexistent");
    if (!reloaded.loadSetupText(first, error) || !sameSettings(loaded, reloaded))
        std::abort();
    if (savedText(reloaded) != first)
        std::abort();
    return 0;
}
