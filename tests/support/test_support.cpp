// Temporary folders and program runs for the end-to-end tests.
#include "test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace lsmtest {

namespace {

void removeTree(const std::string& path) {
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            const std::string child = path + "/" + name;
            struct stat status;
            if (lstat(child.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
                removeTree(child);
            else
                unlink(child.c_str());
        }
        closedir(dir);
    }
    rmdir(path.c_str());
}

}  // namespace

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/lsm-ics-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
    path = pattern;
}

TempDir::~TempDir() { removeTree(path); }

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workDir, int timeoutSeconds) {
    char outName[] = "/tmp/lsm-ics-out-XXXXXX";
    char errName[] = "/tmp/lsm-ics-err-XXXXXX";
    const int outFd = mkstemp(outName);
    const int errFd = mkstemp(errName);
    if (outFd < 0 || errFd < 0) throw std::runtime_error("cannot make capture files");
    const pid_t child = fork();
    if (child == 0) {
        const int nullFd = open("/dev/null", O_RDONLY);
        dup2(nullFd, 0);
        dup2(outFd, 1);
        dup2(errFd, 2);
        if (chdir(workDir.c_str()) != 0) _exit(126);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    RunResult result;
    int status = 0;
    const time_t deadline = std::time(nullptr) + timeoutSeconds;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::time(nullptr) > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        usleep(2000);
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    close(outFd);
    close(errFd);
    result.out = readText(outName);
    result.err = readText(errName);
    unlink(outName);
    unlink(errName);
    return result;
}

std::string exactly(const std::string& text) {
    std::string pattern = "^";
    for (char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) pattern += '\\';
        pattern += c;
    }
    return pattern + "$";
}

FILE* streamOf(const std::vector<uint8_t>& bytes) {
    FILE* stream = std::tmpfile();
    if (!stream || (!bytes.empty() &&
                    std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()))
        throw std::runtime_error("cannot write a temporary file");
    std::rewind(stream);
    return stream;
}

bool fileExists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

std::vector<std::string> listFolder(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace lsmtest
