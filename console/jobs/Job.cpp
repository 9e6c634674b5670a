#include "console/jobs/Job.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmora::console {

namespace {

constexpr std::array<const char*, 8> kStatusNames = {
    "Waiting", "Downloading", "Ready", "Printing", "Done", "Error", "Rejected", "Uploading"};

constexpr int kStartedLength = 12;
constexpr std::time_t kSecondsPerDay = 86400;

// "yyMMddHHmmss" (UTC, years after 2000) as a point in time; nullopt for any other text.
std::optional<std::time_t> parseStarted(const std::string& started) {
    if (started.size() != kStartedLength)
        return std::nullopt;
    std::array<int, 6> fields{};
    for (size_t i = 0; i < fields.size(); ++i) {
        const char high = started[2 * i];
        const char low = started[2 * i + 1];
        if (high < '0' || high > '9' || low < '0' || low > '9')
            return std::nullopt;
        fields[i] = (high - '0') * 10 + (low - '0');
    }
    std::tm utc{};
    utc.tm_year = 100 + fields[0];
    utc.tm_mon = fields[1] - 1;
    utc.tm_mday = fields[2];
    utc.tm_hour = fields[3];
    utc.tm_min = fields[4];
    utc.tm_sec = fields[5];
    // timegm normalises out-of-range fields (month 13, second 60) the way a calendar would.
    return ::timegm(&utc);
}

std::time_t startOfLocalDay(std::time_t time) {
    std::tm local{};
    ::localtime_r(&time, &local);
    local.tm_hour = 0;
    local.tm_min = 0;
    local.tm_sec = 0;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

std::string formatLocal(std::time_t time, const char* pattern) {
    std::tm local{};
    ::localtime_r(&time, &local);
    std::array<char, 64> text{};
    const size_t length = std::strftime(text.data(), text.size(), pattern, &local);
    return std::string(text.data(), length);
}

}  // namespace

Job::Job(Origin origin, std::filesystem::path profileDir)
    : origin_(origin), profileDir_(std::move(profileDir)) {}

Job Job::initWithJob(const Job& job) {
    Job copy(job.origin_, job.profileDir_);
    static_cast<JobData&>(copy) = static_cast<const JobData&>(job);
    copy.setNotify(false);
    copy.status_ = job.status_;
    copy.error_ = job.error_;
    copy.approved_ = job.approved_;
    copy.showDialog_ = job.showDialog_;
    copy.encryptKey_ = job.encryptKey_;
    return copy;
}

std::string Job::getTextStatus() const {
    if (status_ < 0 || static_cast<size_t>(status_) >= kStatusNames.size())
        return "";
    return kStatusNames[static_cast<size_t>(status_)];
}

std::string Job::getTextStarted() const {
    return getTextStarted(std::chrono::system_clock::now());
}

std::string Job::getTextStarted(std::chrono::system_clock::time_point now) const {
    const std::time_t nowSeconds = std::chrono::system_clock::to_time_t(now);
    const std::time_t started = parseStarted(this->started()).value_or(nowSeconds);
    const std::time_t difference = nowSeconds - startOfLocalDay(started);
    // Whole seconds from the start of the job's local day: within a day either way it is today.
    if (difference > -kSecondsPerDay && difference < kSecondsPerDay)
        return formatLocal(started, "%H:%M");
    return formatLocal(started, "%x");
}

std::filesystem::path Job::getJobDir() const {
    // Without a profile folder there is no safe place: never a folder relative to wherever the
    // process happens to run.
    if (profileDir_.empty())
        return {};
    const char* prefix = isPTP() ? kDirectFolderPrefix : kServiceFolderPrefix;
    return profileDir_ / (prefix + std::to_string(serverId()));
}

std::string Job::getFileNameForPage(int index, bool encoded) const {
    if (index < 0 || static_cast<size_t>(index) >= pages().size() || profileDir_.empty())
        return "";
    std::string name =
        (getJobDir() / (std::to_string(pages()[static_cast<size_t>(index)].number()) + ".emf"))
            .string();
    if (encoded && (packed() || encryption() != 0))
        name += ".enc";
    return name;
}

std::string Job::receiveDirectPage(int number) {
    if (number < 1 || profileDir_.empty())
        return "";
    std::vector<Page>& list = pages();
    for (size_t index = list.size(); index-- > 0;) {
        if (list[index].number() == number)
            return getFileNameForPage(static_cast<int>(index), false);
    }
    if (list.size() >= static_cast<size_t>(kMaxDirectPages))
        return "";
    list.emplace_back(number, "");
    return getFileNameForPage(static_cast<int>(list.size() - 1), false);
}

}  // namespace velmora::console
