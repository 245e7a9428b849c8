// lsm-to-ics on LSM files as microscopes also write them: compressed planes, several stage
// positions, line scans stored as one image, unequal channel depths; and the copy of planes
// where the kernel cannot copy between files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "lsm_writer.h"
#include "test_support.h"

using lsmtest::Bytes;
using lsmtest::LsmContent;
using lsmtest::RunResult;

namespace {

const std::string program = PROGRAM_PATH;

LsmContent acquisition(uint32_t channels, uint32_t slices, uint32_t frames) {
    LsmContent c;
    c.width = 40;
    c.height = 7;
    c.channels = channels;
    c.slices = slices;
    c.timeFrames = frames;
    c.scanInfo.wavelengths = {488, 561, 633};
    c.scanInfo.wavelengths.resize(channels);
    return c;
}

class MicroscopeLayouts : public testing::Test {
protected:
    lsmtest::TempDir dir;

    // Runs lsm-to-ics on one file with the given options after the file's name.
    RunResult convert(const std::string& file, const std::vector<std::string>& options) {
        std::vector<std::string> args = {"-s", "1", "-j", "1", "-e", "1", file};
        args.insert(args.end(), options.begin(), options.end());
        return lsmtest::runProgram(program, args, dir.path);
    }

    std::string write(const std::string& name, const LsmContent& c) {
        lsmtest::writeBytes(dir.file(name), lsmtest::buildLsmFile(c));
        return name;
    }

    Bytes output(const std::string& name) { return lsmtest::readBytes(dir.file(name)); }
};

// Sets an environment variable for the programs this test runs, and restores it afterwards.
struct ScopedVariable {
    std::string name;
    std::string before;
    bool had;
    ScopedVariable(const std::string& variable, const std::string& value) : name(variable) {
        const char* old = std::getenv(name.c_str());
        had = old != nullptr;
        before = had ? old : "";
        setenv(name.c_str(), value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (had)
            setenv(name.c_str(), before.c_str(), 1);
        else
            unsetenv(name.c_str());
    }
};

TEST_F(MicroscopeLayouts, PlanesAreReadAndWrittenWhereTheKernelCannotCopyThem) {
    write("a1.lsm", acquisition(2, 3, 2));
    const std::vector<std::string> options = {"-o", "v1", "-z", "1", "3", "-c", "2", "1", "-t",
                                              "1", "-S1"};
    const RunResult copied = convert("a?.lsm", options);
    ASSERT_EQ(copied.status, 0) << copied.err;
    const Bytes copiedData = output("v1.ids");
    std::remove(dir.file("v1.ids").c_str());
    const char* asan = std::getenv("ASAN_OPTIONS");
    // The sanitizer's runtime must otherwise come first among the preloaded libraries.
    ScopedVariable sanitizer("ASAN_OPTIONS",
                             std::string(asan ? asan : "") + ":verify_asan_link_order=0");
    ScopedVariable preload("LD_PRELOAD", NO_SENDFILE_PATH);
    const RunResult read = convert("a?.lsm", options);
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out, copied.out);
    EXPECT_EQ(output("v1.ids"), copiedData);
}

}  // namespace
