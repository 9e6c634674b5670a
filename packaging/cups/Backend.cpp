#include "packaging/cups/Backend.h"

#include <cups/backend.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <optional>

#include "packaging/cups/BackendJob.h"
#include "packaging/cups/QueuePolicy.h"
#include "packaging/cups/SpoolFolder.h"
#include "packaging/cups/StatusLine.h"
#include "packaging/cups/UserProcess.h"
#include "platform/FileIo.h"
#include "platform/UniqueFd.h"

namespace velmora::backend {

namespace {

constexpr const char* kRasterName = "job.raster";

// What the signal handler needs: the child to pass SIGTERM on to, and whether one came.
volatile sig_atomic_t runningChild = 0;
volatile sig_atomic_t terminated = 0;

void onTerminate(int) {
    terminated = 1;
    const pid_t child = static_cast<pid_t>(runningChild);
    if (child > 0)
        ::kill(child, SIGTERM);
}

void installHandlers() {
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

int runChild(pid_t pid) {
    if (pid < 0)
        return -1;
    runningChild = pid;
    if (terminated)
        ::kill(pid, SIGTERM);
    const int status = UserProcess::wait(pid);
    runningChild = 0;
    return status;
}

// Copies the job's data into the spool folder, as the user (who cannot read the scheduler's
// own copy of the file, which is why root opened it), and makes the pages' folder beside it.
int storeRaster(const UserProcess::Account& account, int inputFd, const std::string& target,
                const std::string& pagesDir, unsigned long long maxBytes) {
    return runChild(UserProcess::start(account, inputFd, [&target, &pagesDir, maxBytes] {
        if (::mkdir(pagesDir.c_str(), 0700) != 0)
            return 1;
        UniqueFd out(
            ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out)
            return 1;
        char buffer[65536];
        unsigned long long stored = 0;
        for (;;) {
            const ssize_t got = readFully(0, buffer, sizeof buffer);
            if (got < 0)
                return 1;
            if (got == 0)
                break;
            stored += static_cast<unsigned long long>(got);
            if (stored > maxBytes)
                return 1;
            if (!writeFully(out.get(), buffer, static_cast<size_t>(got)))
                return 1;
        }
        return out.close() ? 0 : 1;
    }));
}

int removeRaster(const UserProcess::Account& account, const std::string& raster) {
    return runChild(UserProcess::start(
        account, -1, [&raster] { return ::unlink(raster.c_str()) == 0 ? 0 : 1; }));
}

class JobRun {
  public:
    JobRun(const BackendJob& job, const UserProcess::Account& account,
           const BackendSettings& settings, std::filesystem::path spool)
        : job_(job), account_(account), settings_(settings), spool_(std::move(spool)) {}
    ~JobRun() { SpoolFolder::remove(spool_, account_); }

    int run(int inputFd) {
        const std::string raster = (spool_ / kRasterName).string();
        // Named after the job, in a folder of the user's: the sender can remove it when done.
        const std::string pages = (spool_ / std::to_string(job_.jobId)).string();
        StatusLine::write("INFO", "Receiving the pages");
        if (storeRaster(account_, inputFd, raster, pages, settings_.maxRasterBytes) != 0)
            return fail("The job's pages could not be stored");
        if (terminated)
            return CUPS_BACKEND_CANCEL;
        StatusLine::write("INFO", "Converting the pages");
        const int converted = runChild(
            UserProcess::startProgram(account_, -1, {settings_.converterPath, raster, pages}));
        removeRaster(account_, raster);
        if (terminated)
            return CUPS_BACKEND_CANCEL;
        if (converted != 0)
            return fail("The pages could not be converted (not 8-bit RGB raster?)");
        StatusLine::write("INFO", "Sending the job");
        std::vector<std::string> sender = {settings_.senderPath};
        sender.insert(sender.end(), settings_.senderLeadingArguments.begin(),
                      settings_.senderLeadingArguments.end());
        for (std::string& option : job_.senderOptions(pages))
            sender.push_back(std::move(option));
        const int sent = runChild(UserProcess::startProgram(account_, -1, sender));
        if (terminated)
            return CUPS_BACKEND_CANCEL;
        if (sent != 0)
            return fail("The sender could not run");
        // The outcome is in the user's message file, which the console shows.
        StatusLine::write("INFO", "Job handed to the sender");
        return CUPS_BACKEND_OK;
    }

  private:
    static int fail(const std::string& message) {
        StatusLine::write("ERROR", message);
        return CUPS_BACKEND_CANCEL;
    }

    const BackendJob& job_;
    const UserProcess::Account& account_;
    const BackendSettings& settings_;
    std::filesystem::path spool_;
};

// Nothing runs as the job's user unless the scheduler proved that user: under another policy
// the name is whatever the client claimed. The outcome as a backend exit code, 0 to go on.
int refusalUnlessProven(const BackendJob& job, const BackendSettings& settings) {
    if (settings.queuePolicy.empty())
        return CUPS_BACKEND_OK;
    std::string error;
    const auto policy = QueuePolicy::of(job.queue, error);
    if (!policy) {
        StatusLine::write("ERROR", error);
        return CUPS_BACKEND_RETRY;
    }
    if (*policy == settings.queuePolicy)
        return CUPS_BACKEND_OK;
    StatusLine::write("ERROR", "The queue " + job.queue + " has the scheduler policy \"" + *policy +
                                   "\", not \"" + settings.queuePolicy +
                                   "\": the job's user name is not proven, so it is not sent");
    return CUPS_BACKEND_CANCEL;
}

}  // namespace

int Backend::run(std::span<const std::string> arguments, const std::string& queue,
                 const BackendSettings& settings) {
    // Asked to list devices: this backend discovers none.
    if (arguments.empty())
        return CUPS_BACKEND_OK;
    std::string error;
    const auto job = BackendJob::parse(arguments, queue, error);
    if (!job) {
        StatusLine::write("ERROR", error);
        return CUPS_BACKEND_FAILED;
    }
    const auto account = UserProcess::lookup(job->user);
    if (!account) {
        StatusLine::write("ERROR", "Unknown user " + job->user);
        return CUPS_BACKEND_CANCEL;
    }
    // The converter reads what the job sent and the sender talks to the network: neither ever
    // runs with root's rights, whoever the job claims to be.
    if (account->uid == 0) {
        StatusLine::write("ERROR", "Jobs of " + account->name + " are not sent");
        return CUPS_BACKEND_CANCEL;
    }
    if (const int refusal = refusalUnlessProven(*job, settings); refusal != CUPS_BACKEND_OK)
        return refusal;
    UniqueFd file;
    if (job->file) {
        file = UniqueFd(::open(job->file->c_str(), O_RDONLY | O_CLOEXEC));
        if (!file) {
            StatusLine::write("ERROR", "Cannot open the job's file");
            return CUPS_BACKEND_CANCEL;
        }
    }
    installHandlers();
    const auto spool = SpoolFolder::create(settings.spoolRoot, job->jobId, *account, error);
    if (!spool) {
        StatusLine::write("ERROR", error);
        return CUPS_BACKEND_RETRY;
    }
    JobRun run(*job, *account, settings, *spool);
    return run.run(file ? file.get() : STDIN_FILENO);
}

}  // namespace velmora::backend
