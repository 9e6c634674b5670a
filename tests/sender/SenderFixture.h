#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/CaptureLogSink.h"
#include "platform/Logger.h"
#include "sender/OptionsList.h"
#include "sender/Sender.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::test {

inline constexpr const char* kPrinterId = "7d1c2a9e-5b3f-4e61-9a0c-2f4b8d6e1a01";
inline constexpr const char* kPrinterTitle = "Office";
inline constexpr const char* kToken = "tok-alice";

// A scratch shared folder and spool directory, the sender's log captured.
class SenderFixture : public ::testing::Test {
  protected:
    SenderFixture() {
        std::filesystem::create_directories(systemDir());
        std::filesystem::create_directories(spoolDir());
    }
    void SetUp() override { previousSink_ = Logger::setSink(log_); }
    void TearDown() override { Logger::setSink(previousSink_); }

    std::filesystem::path systemDir() const { return scratch_ / "system"; }
    // The last component is the print system's job id.
    std::filesystem::path spoolDir() const { return scratch_ / "spool" / "57"; }
    std::filesystem::path messageFile(const std::string& user = "alice") const {
        return systemDir() / ("messages." + user + ".txt");
    }
    std::string message(const std::string& user = "alice") const {
        return ScratchDirectory::readFile(messageFile(user));
    }

    struct Setup {
        std::string token = kToken;
        std::string service;
        std::string defaultFormat = "Letter";
        int encryption = 0;
        std::string encryptionPassword;
        int customWidth = 0;
        int customHeight = 0;
        bool notify = false;
    };
    void writeSetup(const Setup& setup, const std::string& user = "alice") const {
        std::string text = "<?xml version=\"1.0\"?>\n<setup>";
        text += "<token>" + setup.token + "</token>";
        text += "<service>" + setup.service + "</service>";
        text += "<default-format>" + setup.defaultFormat + "</default-format>";
        if (setup.customWidth > 0) {
            text += "<custom-paperw>" + std::to_string(setup.customWidth) + "</custom-paperw>";
            text += "<custom-paperh>" + std::to_string(setup.customHeight) + "</custom-paperh>";
        }
        text += "<encryption>" + std::to_string(setup.encryption) + "</encryption>";
        text += "<encryption-password>" + setup.encryptionPassword + "</encryption-password>";
        text += std::string("<notify>") + (setup.notify ? "1" : "0") + "</notify>";
        text += "</setup>\n";
        ScratchDirectory::writeFile(systemDir() / ("setup." + user + ".xml"), text);
    }

    // The options of a job on the queue of the shared test printer.
    OptionsList options(OptionsList::Map extra = {}) const {
        OptionsList::Map values = {{"SpoolDir", spoolDir().string()},
                                   {"User", "alice"},
                                   {"DestinationPrinterID", std::string("Velmora_") + kPrinterId},
                                   {"com.apple.print.JobInfo.PMJobName", "Report"}};
        for (auto& [key, value] : extra)
            values[key] = value;
        return OptionsList(std::move(values));
    }

    // Writes a page file of `size` bytes that gzip cannot shrink much.
    std::string writePage(const std::string& name, size_t size, unsigned seed = 1) const {
        std::mt19937 random(seed);
        std::string bytes(size, '\0');
        for (char& byte : bytes)
            byte = static_cast<char>(random() & 0xFF);
        ScratchDirectory::writeFile(spoolDir() / name, bytes);
        return bytes;
    }

    bool logged(const std::string& line) const {
        for (const std::string& message : log_->messages()) {
            if (message == line)
                return true;
        }
        return false;
    }

    static std::string gunzip(const std::string& packed) {
        z_stream stream{};
        if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
            return {};
        std::string plain;
        char buffer[65536];
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
        stream.avail_in = static_cast<uInt>(packed.size());
        int status = Z_OK;
        while (status == Z_OK) {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            status = inflate(&stream, Z_NO_FLUSH);
            plain.append(buffer, sizeof buffer - stream.avail_out);
        }
        inflateEnd(&stream);
        return status == Z_STREAM_END ? plain : std::string("<damaged gzip stream>");
    }

    ScratchDirectory scratch_{"velmora-sender"};
    std::shared_ptr<CaptureLogSink> log_ = std::make_shared<CaptureLogSink>();
    std::shared_ptr<LogSink> previousSink_;
};

}  // namespace velmora::test
