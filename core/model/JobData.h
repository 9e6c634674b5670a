#pragma once

#include "core/account/Person.h"
#include "core/model/Page.h"

#include <pugixml.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

// The description of one print job as it travels between the sending and the printing side.
class JobData {
  public:
    static constexpr int64_t kPortrait = 0;
    static constexpr int64_t kLandscape = 1;

    JobData() = default;
    JobData(const JobData&) = default;
    JobData(JobData&&) = default;
    JobData& operator=(const JobData&) = default;
    JobData& operator=(JobData&&) = default;
    virtual ~JobData() = default;

    // Reads a "job" element as the service sends it (or as the profile file keeps it). Never
    // fails: missing parts read as empty text, 0 or false, copies and transport as 1. The custom
    // size and `notify` are not part of that form and keep their values.
    void parse(pugi::xml_node element);
    // Appends the "job" element the sending side announces.
    pugi::xml_node getXml(pugi::xml_node parent) const;
    // Appends the "job" element kept in the profile file: the sending form with the attribute
    // "id", the sender as "printing-person" and one "page" per page.
    pugi::xml_node getConfigXml(pugi::xml_node parent) const;

    int serverId() const { return serverId_; }
    void setServerId(int serverId) { serverId_ = serverId; }
    const std::string& format() const { return format_; }
    void setFormat(std::string format) { format_ = std::move(format); }
    int customWidth() const { return customWidth_; }
    void setCustomWidth(int mcm) { customWidth_ = mcm; }
    int customHeight() const { return customHeight_; }
    void setCustomHeight(int mcm) { customHeight_ = mcm; }
    // kPortrait or kLandscape.
    int64_t orientation() const { return orientation_; }
    void setOrientation(int64_t orientation) { orientation_ = orientation; }
    int copies() const { return copies_; }
    void setCopies(int copies) { copies_ = copies; }
    // 0 one-sided, 1 turned on the short edge, 2 turned on the long edge.
    int duplex() const { return duplex_; }
    void setDuplex(int duplex) { duplex_ = duplex; }
    bool collate() const { return collate_; }
    void setCollate(bool collate) { collate_ = collate; }
    const std::string& bin() const { return bin_; }
    void setBin(std::string bin) { bin_ = std::move(bin); }
    bool packed() const { return packed_; }
    void setPacked(bool packed) { packed_ = packed; }
    // One encryption bit (kEncryptionAes, kEncryptionAes0) or 0.
    int encryption() const { return encryption_; }
    void setEncryption(int encryption) { encryption_ = encryption; }
    // One page-format bit (kTransportBmp, ...).
    int transport() const { return transport_; }
    void setTransport(int transport) { transport_ = transport; }
    // The user who printed the job. Copies of a job share one sender object.
    const Person& sender() const { return *sender_; }
    Person& sender() { return *sender_; }
    const std::shared_ptr<Person>& senderObject() const { return sender_; }
    void setSender(std::shared_ptr<Person> sender) { sender_ = std::move(sender); }
    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }
    const std::string& printerId() const { return printerId_; }
    void setPrinterId(std::string printerId) { printerId_ = std::move(printerId); }
    // "yyMMddHHmmss" in GMT, as the service writes it.
    const std::string& started() const { return started_; }
    void setStarted(std::string started) { started_ = std::move(started); }
    bool notify() const { return notify_; }
    void setNotify(bool notify) { notify_ = notify; }
    const std::vector<Page>& pages() const { return pages_; }
    std::vector<Page>& pages() { return pages_; }
    bool premium() const { return premium_; }
    void setPremium(bool premium) { premium_ = premium; }

  private:
    void parsePages(pugi::xml_node element);

    int serverId_ = 0;
    std::string format_;
    int customWidth_ = 0;
    int customHeight_ = 0;
    int64_t orientation_ = kPortrait;
    int copies_ = 0;
    int duplex_ = 0;
    bool collate_ = false;
    std::string bin_;
    bool packed_ = false;
    int encryption_ = 0;
    int transport_ = 0;
    std::shared_ptr<Person> sender_ = std::make_shared<Person>();
    std::string title_;
    std::string printerId_;
    std::string started_;
    bool notify_ = false;
    std::vector<Page> pages_;
    bool premium_ = false;
};

}  // namespace velmora
