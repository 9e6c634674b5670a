#pragma once

#include <string>
#include <utility>

namespace velmora {

// One page file of a job: its number (from 1) and where the receiving side downloads it; the
// URL is empty for pages that a nearby client hands over directly.
class Page {
  public:
    Page() = default;
    Page(int number, std::string url) : number_(number), url_(std::move(url)) {}

    int number() const { return number_; }
    void setNumber(int number) { number_ = number; }
    const std::string& url() const { return url_; }
    void setUrl(std::string url) { url_ = std::move(url); }

  private:
    int number_ = 0;
    std::string url_;
};

}  // namespace velmora
