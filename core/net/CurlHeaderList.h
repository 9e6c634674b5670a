#pragma once

#include <curl/curl.h>

#include <map>
#include <memory>
#include <string>

namespace velmora {

// A request's header lines in the form libcurl takes them. Names and values may come from the
// network (a token, for instance); a line break would let them smuggle in headers of their own,
// so such text is refused rather than sent.
class CurlHeaderList {
  public:
    // `completeSet`: the headers given are all the request sends (curl's own "Accept" is
    // removed). False with the reason when a header is unusable or memory runs out.
    bool build(const std::map<std::string, std::string>& headers, bool completeSet,
               std::string& error);
    bool append(const std::string& line);
    curl_slist* get() const { return list_.get(); }

  private:
    struct Deleter {
        void operator()(curl_slist* list) const { curl_slist_free_all(list); }
    };
    std::unique_ptr<curl_slist, Deleter> list_;
};

}  // namespace velmora
