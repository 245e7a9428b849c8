// --help and --version of every program, and that they change nothing else.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

struct Program {
    const char* name;
    const char* path;
};

const Program programs[] = {{"lsm-to-ics", LSM_TO_ICS},
                            {"image-info", IMAGE_INFO},
                            {"ics-split", ICS_SPLIT},
                            {"tiff-to-ids", TIFF_TO_IDS}};

TEST(StandardOptions, HelpPrintsTheUsageAndVersionTheVersion) {
    lsmtest::TempDir dir;
    for (const Program& program : programs) {
        const lsmtest::RunResult help = lsmtest::runProgram(program.path, {"--help"}, dir.path);
        EXPECT_EQ(help.status, 0) << program.name;
        EXPECT_EQ(help.err, "") << program.name;
        EXPECT_EQ(help.out.rfind(std::string("usage: ") + program.name + " ", 0), 0u)
            << program.name << ": " << help.out;
        const lsmtest::RunResult version =
            lsmtest::runProgram(program.path, {"--version"}, dir.path);
        EXPECT_EQ(version.status, 0) << program.name;
        EXPECT_EQ(version.out, std::string(program.name) + " " + LSM_ICS_VERSION + "\n");
    }
    EXPECT_TRUE(lsmtest::listFolder(dir.path).empty());
}

TEST(StandardOptions, AmongOtherArgumentsTheyAreOrdinaryArguments) {
    lsmtest::TempDir dir;
    // image-info takes --help for a file name once another argument follows.
    const lsmtest::RunResult info =
        lsmtest::runProgram(IMAGE_INFO, {"--help", "extra"}, dir.path);
    EXPECT_EQ(info.status, 1);
    EXPECT_EQ(info.err, "Could not open file.\nTerminating...\n");
    const lsmtest::RunResult appender =
        lsmtest::runProgram(TIFF_TO_IDS, {"--version", "-o", "x"}, dir.path);
    EXPECT_EQ(appender.status, 0);
    EXPECT_EQ(appender.out, "complete\n");
}

}  // namespace
