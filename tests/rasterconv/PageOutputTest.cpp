#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>

#include "tests/rasterconv/ConverterFixture.h"
#include "tests/support/ChildProcess.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

// How the page files reach the output folder: complete or not at all, never through a link
// someone else planted there, and never more of them than the run's budget allows.
class PageOutputTest : public ConverterFixture {
  protected:
    void SetUp() override {
        ConverterFixture::SetUp();
        fs::create_directory(output());
    }

    // Three pages of `width` x `height`, each a different solid colour.
    void writeThreePages(unsigned width, unsigned height, unsigned largeSecondWidth = 0) {
        RasterStreamWriter raster(input(), CUPS_RASTER_WRITE_COMPRESSED);
        for (unsigned page = 0; page < 3; ++page) {
            const unsigned w = page == 1 && largeSecondWidth != 0 ? largeSecondWidth : width;
            raster.page(RasterStreamWriter::header(w, height), [w, page](unsigned) {
                return solid(w, static_cast<uint8_t>(page + 1), 0, 0);
            });
        }
    }

    std::set<std::string> outputEntries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(output()))
            names.insert(entry.path().filename().string());
        return names;
    }

    static uint64_t bmpSize(unsigned width, unsigned height) {
        return 54 + uint64_t{(width * 3 + 3) & ~3u} * height;
    }

    // Runs the converter program with a limit on the size of any file it writes, the way a
    // full disk or a quota stops it halfway through a page. `xfszDisposition` is what the
    // program inherits for the signal the kernel sends at the limit: a print system that starts
    // it under a limit does not necessarily ignore that signal.
    int runWithFileSizeLimit(rlim_t limit, sighandler_t xfszDisposition) {
        std::vector<std::string> arguments = {KESTRO_VL_CONVERT_PATH, input(), output()};
        std::vector<char*> argv = ChildProcess::pointers(arguments);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::signal(SIGXFSZ, xfszDisposition);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            const rlimit cap{limit, limit};
            if (::setrlimit(RLIMIT_FSIZE, &cap) != 0)
                ::_exit(126);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        int status = 0;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
            return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST_F(PageOutputTest, APageCutOffByTheFileSizeLimitLeavesNothingBehind) {
    // Pages 1 and 3 take 4.9 KB each; page 2 needs 120 KB, past the 64 KiB limit.
    writeThreePages(40, 40, /*largeSecondWidth=*/1000);
    const std::vector<std::pair<const char*, sighandler_t>> dispositions = {
        {"signal ignored by the parent", SIG_IGN},
        {"signal left at its default, which ends the process", SIG_DFL},
    };
    for (const auto& [what, disposition] : dispositions) {
        SCOPED_TRACE(what);
        fs::remove_all(output());
        fs::create_directory(output());
        // An earlier job's page 2 must not pass for this job's.
        ScratchDirectory::writeFile(fs::path(output()) / "0002.bmp", "earlier job");

        EXPECT_EQ(runWithFileSizeLimit(64 << 10, disposition), 0);

        EXPECT_EQ(outputEntries(), (std::set<std::string>{"0001.bmp", "0003.bmp"}));
        EXPECT_EQ(page(1).size(), bmpSize(40, 40));
        EXPECT_EQ(page(3).size(), bmpSize(40, 40));
        EXPECT_EQ(page(3).substr(54, 3), std::string("\0\0\3", 3));
    }
}

// A file the process `pid` holds open in `folder`, other than the folder itself; empty when
// there is none.
std::string openFileIn(pid_t pid, const fs::path& folder) {
    std::error_code error;
    for (const auto& entry :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const std::string target = fs::read_symlink(entry.path(), error).string();
        if (!error && target.starts_with(folder.string() + "/"))
            return target;
    }
    return {};
}

TEST_F(PageOutputTest, ARunEndedWhileWritingAPageLeavesOnlyCompletePages) {
    constexpr unsigned kWidth = 2000, kHeight = 1500, kPages = 40;
    {
        RasterStreamWriter raster(input(), CUPS_RASTER_WRITE_COMPRESSED);
        for (unsigned number = 1; number <= kPages; ++number) {
            const std::vector<uint8_t> line = solid(kWidth, static_cast<uint8_t>(number), 0, 0);
            raster.page(RasterStreamWriter::header(kWidth, kHeight),
                        [&](unsigned) { return line; });
        }
    }
    const fs::path out = fs::canonical(output());
    for (const int signal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(::strsignal(signal));
        fs::remove_all(out);
        fs::create_directory(out);
        std::vector<std::string> arguments = {KESTRO_VL_CONVERT_PATH, input(), out.string()};
        std::vector<char*> argv = ChildProcess::pointers(arguments);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ASSERT_GT(pid, 0);
        // Stopped the moment it holds a page file open, then ended there.
        std::string caughtWriting;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (caughtWriting.empty() && std::chrono::steady_clock::now() < deadline) {
            if (!openFileIn(pid, out).empty()) {
                ::kill(pid, SIGSTOP);
                caughtWriting = openFileIn(pid, out);
            }
        }
        ::kill(pid, signal);
        ::kill(pid, SIGCONT);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_FALSE(caughtWriting.empty()) << "never caught writing a page";
        EXPECT_TRUE(WIFSIGNALED(status));

        std::set<std::string> pageNames;
        for (unsigned number = 1; number <= kPages; ++number)
            pageNames.insert(fmt::format("{:04}.bmp", number));
        for (const std::string& name : outputEntries()) {
            EXPECT_TRUE(pageNames.contains(name)) << "left behind: " << name;
            EXPECT_EQ(fs::file_size(out / name), bmpSize(kWidth, kHeight)) << name;
        }
    }
}

TEST_F(PageOutputTest, PlantedLinksAreReplacedNeverFollowedAndPagesArePrivate) {
    writeThreePages(8, 4);
    const fs::path victim = scratch_ / "victim";
    const fs::path wouldBeCreated = scratch_ / "created-through-link";
    ScratchDirectory::writeFile(victim, "precious");
    const fs::path out(output());
    // At the page names, and at the temporary names a careless writer would pick.
    for (const char* name :
         {"0001.bmp", "0002.bmp", "0001.bmp.tmp", ".0001.bmp.tmp", "0002.bmp.part", "0003.bmp~"}) {
        fs::create_symlink(victim, out / name);
    }
    fs::create_symlink(wouldBeCreated, out / "0003.bmp");

    EXPECT_EQ(convert(), 0);

    EXPECT_EQ(ScratchDirectory::readFile(victim), "precious");
    EXPECT_FALSE(fs::exists(fs::symlink_status(wouldBeCreated)));
    for (unsigned number = 1; number <= 3; ++number) {
        char name[16];
        std::snprintf(name, sizeof name, "%04u.bmp", number);
        struct stat info {};
        ASSERT_EQ(::lstat((out / name).c_str(), &info), 0) << name;
        EXPECT_TRUE(S_ISREG(info.st_mode)) << name;
        EXPECT_EQ(info.st_mode & 07777, 0600u) << name << ": readable by its owner only";
        EXPECT_EQ(static_cast<uint64_t>(info.st_size), bmpSize(8, 4)) << name;
    }
    // The converter's own temporaries are gone; what it did not create is left alone.
    EXPECT_EQ(outputEntries(),
              (std::set<std::string>{"0001.bmp", "0002.bmp", "0003.bmp", "0001.bmp.tmp",
                                     ".0001.bmp.tmp", "0002.bmp.part", "0003.bmp~"}));
}

TEST_F(PageOutputTest, AnEntryThatCannotBeReplacedFailsOnlyItsPage) {
    writeThreePages(8, 4);
    const fs::path blocking = fs::path(output()) / "0002.bmp";
    fs::create_directory(blocking);
    ScratchDirectory::writeFile(blocking / "kept", "kept");

    EXPECT_EQ(convert(), 0);

    EXPECT_EQ(outputEntries(), (std::set<std::string>{"0001.bmp", "0002.bmp", "0003.bmp"}));
    EXPECT_EQ(ScratchDirectory::readFile(blocking / "kept"), "kept");
    EXPECT_EQ(page(3).size(), bmpSize(8, 4));
    EXPECT_TRUE(logged(LogLevel::Error, "write_bmp: failed to complete file " + blocking.string() +
                                            ": Is a directory"));
    EXPECT_TRUE(
        logged(LogLevel::Info, "Conversion complete: 3 page(s) total, 2 converted, 1 failed"));
}

TEST_F(PageOutputTest, AnOutputFolderThatIsALinkIsRefused) {
    writeThreePages(8, 4);
    const fs::path elsewhere = scratch_ / "elsewhere";
    fs::create_directory(elsewhere);
    fs::remove(output());
    fs::create_directory_symlink(elsewhere, output());

    EXPECT_EQ(convert(), 1);
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_TRUE(
        logged(LogLevel::Error, "Output path is a symbolic link, not a directory: " + output()));
}

TEST_F(PageOutputTest, AnOutputFolderOthersCanWriteIntoIsRefused) {
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || nobody == nullptr)
        GTEST_SKIP() << "needs root and the account nobody to plant another user's files";
    writeThreePages(8, 4);
    struct Case {
        const char* what;
        uid_t owner;
        mode_t mode;
        std::string refusal;
    };
    const std::vector<Case> cases = {
        {"shared with everyone, sticky", ::geteuid(), 01777,
         "Output directory may be written by other users: " + output()},
        {"shared with everyone", ::geteuid(), 0777,
         "Output directory may be written by other users: " + output()},
        {"another user's", nobody->pw_uid, 0755,
         "Output directory belongs to another user: " + output()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(output());
        fs::create_directory(output());
        // Another user's page 2, waiting to be taken for this job's.
        const fs::path planted = fs::path(output()) / "0002.bmp";
        ScratchDirectory::writeFile(planted, "planted");
        ASSERT_EQ(::chown(planted.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        ASSERT_EQ(::chmod(output().c_str(), c.mode), 0);
        ASSERT_EQ(::chown(output().c_str(), c.owner, static_cast<gid_t>(-1)), 0);
        log_->clear();

        EXPECT_EQ(convert(), 1);

        EXPECT_EQ(outputEntries(), (std::set<std::string>{"0002.bmp"}));
        EXPECT_EQ(ScratchDirectory::readFile(planted), "planted");
        EXPECT_TRUE(logged(LogLevel::Error, c.refusal));
    }
}

TEST_F(PageOutputTest, TheRunStopsWritingAtItsTotalSize) {
    struct Case {
        const char* what;
        uint64_t maxRunBytes;
        std::set<std::string> written;
    };
    const uint64_t onePage = bmpSize(100, 50);
    const std::vector<Case> cases = {
        {"room for exactly two pages", 2 * onePage, {"0001.bmp", "0002.bmp"}},
        {"one byte short of two pages", 2 * onePage - 1, {"0001.bmp"}},
        {"less than one page", onePage - 1, {}},
    };
    writeThreePages(100, 50);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(output());
        log_->clear();
        OutputLimits limits;
        limits.maxRunBytes = c.maxRunBytes;
        limits.minFreeBytes = 0;
        EXPECT_EQ(RasterToBmpConverter(limits).run({"kestroVLConvert", input(), output()}),
                  c.written.empty() ? 1 : 0);
        EXPECT_EQ(outputEntries(), c.written);
        const unsigned refused = static_cast<unsigned>(3 - c.written.size());
        EXPECT_TRUE(
            logged(LogLevel::Error, fmt::format("process_page: page 3 does not fit the "
                                                "output budget: {} bytes would pass the "
                                                "run's limit of {} bytes ({} written)",
                                                onePage, c.maxRunBytes, (3 - refused) * onePage)));
    }
}

TEST_F(PageOutputTest, ATinyRasterOfAHugePageWritesNoHugeFile) {
    {
        RasterStreamWriter raster(input(), CUPS_RASTER_WRITE_COMPRESSED);
        const std::vector<uint8_t> white = solid(4000, 255, 255, 255);
        raster.page(RasterStreamWriter::header(4000, 4000), [&](unsigned) { return white; });
        raster.page(RasterStreamWriter::header(4, 4), [](unsigned) { return solid(4, 1, 2, 3); });
    }
    ASSERT_LT(fs::file_size(input()), 100u << 10);  // 48 MB of page in a few kilobytes
    OutputLimits limits;
    limits.maxRunBytes = 32 << 20;
    EXPECT_EQ(RasterToBmpConverter(limits).run({"kestroVLConvert", input(), output()}), 0);
    EXPECT_EQ(outputEntries(), (std::set<std::string>{"0002.bmp"}));
    EXPECT_EQ(page(2).substr(54, 3), "\x03\x02\x01");
}

// Free space and free files on the file system of `path`, as statvfs reports them.
struct statvfs fileSystemOf(const std::string& path) {
    struct statvfs info {};
    EXPECT_EQ(::statvfs(path.c_str(), &info), 0);
    return info;
}

TEST_F(PageOutputTest, PagesThatWouldEatIntoTheFreeSpaceFloorsAreRefused) {
    writeThreePages(16, 16);
    const struct statvfs now = fileSystemOf(output());
    const uint64_t availableBytes = uint64_t{now.f_bavail} * now.f_frsize;
    struct Case {
        const char* what;
        OutputLimits limits;
        std::string refusal;
    };
    // Whatever else runs on this machine does not free a gigabyte or a million files meanwhile.
    const uint64_t bytesFloor = availableBytes + (uint64_t{1} << 30);
    const uint64_t filesFloor = uint64_t{now.f_favail} + 1000000;
    const std::vector<Case> cases = {
        {"space",
         {.maxRunBytes = 1 << 20, .minFreeBytes = bytesFloor, .minFreeFiles = 0},
         fmt::format("{} bytes would leave less than {} bytes free", bmpSize(16, 16), bytesFloor)},
        {"files",
         {.maxRunBytes = 1 << 20, .minFreeBytes = 0, .minFreeFiles = filesFloor},
         fmt::format("one more file would leave fewer than {} files free", filesFloor)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        log_->clear();
        EXPECT_EQ(RasterToBmpConverter(c.limits).run({"kestroVLConvert", input(), output()}), 1);
        EXPECT_TRUE(outputEntries().empty());
        bool toldWhy = false;
        for (const std::string& line : log_->messages(LogLevel::Error)) {
            toldWhy |= line.starts_with("process_page: page 1 does not fit the output budget: " +
                                        c.refusal);
        }
        EXPECT_TRUE(toldWhy);
    }
    const OutputLimits roomy{.maxRunBytes = 1 << 20, .minFreeBytes = 0, .minFreeFiles = 0};
    EXPECT_EQ(RasterToBmpConverter(roomy).run({"kestroVLConvert", input(), output()}), 0);
    EXPECT_EQ(outputEntries().size(), 3u);
}

}  // namespace
}  // namespace velmora::test
