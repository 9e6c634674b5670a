#include <spawn.h>
#include <sys/wait.h>

#include <array>

#include "tests/rasterconv/ConverterFixture.h"

extern char** environ;

namespace velmora::test {
namespace {

struct ProgramResult {
    int exitStatus = -1;
    bool signalled = false;
    std::string standardError;
};

// Runs the installed program as the print system would, with its standard error captured.
ProgramResult runProgram(std::vector<std::string> arguments, const std::string& errorFile) {
    arguments.insert(arguments.begin(), KESTRO_VL_CONVERT_PATH);
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = 0;
    ProgramResult result;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return result;
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.signalled = WIFSIGNALED(status);
    if (WIFEXITED(status))
        result.exitStatus = WEXITSTATUS(status);
    result.standardError = ScratchDirectory::readFile(errorFile);
    return result;
}

using KestroVLConvertProgramTest = ConverterFixture;

TEST_F(KestroVLConvertProgramTest, TooFewArgumentsPrintUsage) {
    const std::string errors = (scratch_ / "stderr").string();
    for (auto arguments : {std::vector<std::string>{}, std::vector<std::string>{input()}}) {
        ProgramResult result = runProgram(arguments, errors);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardError,
                  std::string("Usage: ") + KESTRO_VL_CONVERT_PATH +
                      " <input.raster> <output_directory>\n\nConverts CUPS Raster files to BMP "
                      "images.\nOutput files: 0001.bmp, 0002.bmp, etc.\n\nSupported color "
                      "spaces: RGB, sRGB\n");
    }
}

TEST_F(KestroVLConvertProgramTest, ConvertsAndIgnoresExtraArguments) {
    {
        RasterStreamWriter raster(input(), CUPS_RASTER_WRITE_COMPRESSED);
        for (int i = 0; i < 3; ++i) {
            raster.page(RasterStreamWriter::header(640, 480),
                        [](unsigned y) { return solid(640, y, 0, 0); });
        }
    }
    ProgramResult result =
        runProgram({input(), output(), "extra", "arguments"}, (scratch_ / "stderr").string());
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardError, "");
    EXPECT_EQ(page(3).size(), 54u + 1920 * 480);
    EXPECT_FALSE(pageExists(4));
}

}  // namespace
}  // namespace velmora::test
