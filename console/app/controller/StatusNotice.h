#pragma once

#include <string>
#include <string_view>

namespace velmora::console {

// A notice as the pop-up shows it: the sender writes "<document>/phTit<sentence>", anything
// without the separator is text alone.
struct StatusNotice {
    std::string title;
    std::string text;

    static constexpr std::string_view kSeparator = "/phTit";

    // With two or more parts the first is the title and the second the text; the rest is
    // dropped.
    static StatusNotice split(std::string_view notice) {
        const size_t first = notice.find(kSeparator);
        if (first == std::string_view::npos)
            return {"", std::string(notice)};
        const std::string_view rest = notice.substr(first + kSeparator.size());
        return {std::string(notice.substr(0, first)),
                std::string(rest.substr(0, rest.find(kSeparator)))};
    }
};

}  // namespace velmora::console
