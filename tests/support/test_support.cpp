// Temporary folders and program runs for the end-to-end tests.
#include "test_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
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
#ifdef _WIN32
            if (stat(child.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
#else
            if (lstat(child.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
#endif
                removeTree(child);
            else
                unlink(child.c_str());
        }
        closedir(dir);
    }
    rmdir(path.c_str());
}

#ifdef _WIN32
// Windows has no mkdtemp: random names in place of the six Xs until mkdir makes a folder that
// did not exist.
char* mkdtemp(char* pattern) {
    char* digits = pattern + std::string(pattern).size() - 6;
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::snprintf(digits, 7, "%06u", static_cast<unsigned>(random() % 1000000));
        if (mkdir(pattern) == 0) return pattern;
    }
    return nullptr;
}

std::wstring wide(const std::string& utf8) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring text(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, text.data(), size);
    text.pop_back();
    return text;
}

// An argument as the C runtime of the started program splits its command line back.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring text = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        text.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        text += c;
        backslashes = 0;
    }
    text.append(2 * backslashes, L'\\');
    return text + L"\"";
}

// A temporary file the started program inherits as its output, removed when closed.
HANDLE captureFile() {
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (!GetTempPathW(MAX_PATH + 1, folder) || !GetTempFileNameW(folder, L"lsm", 0, name))
        throw std::runtime_error("cannot make a capture file");
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    const HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    &inherited, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot make a capture file");
    return file;
}

// The captured text with line ends as on Linux: Windows programs end lines with CRLF in text mode.
std::string capturedText(HANDLE file) {
    std::string text;
    LARGE_INTEGER start = {};
    SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    char buffer[65536];
    DWORD count = 0;
    while (ReadFile(file, buffer, sizeof buffer, &count, nullptr) && count > 0)
        text.append(buffer, count);
    CloseHandle(file);
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') lines += text[i];
    return lines;
}
#endif

}  // namespace

TempDir::TempDir() {
#ifdef _WIN32
    const char* base = std::getenv("TEMP");
#else
    const char* base = std::getenv("TMPDIR");
#endif
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/lsm-ics-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
    path = pattern;
}

TempDir::~TempDir() { removeTree(path); }

#ifdef _WIN32
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workDir, int timeoutSeconds) {
    std::wstring commandLine = quoted(wide(program));
    for (const std::string& arg : args) commandLine += L" " + quoted(wide(arg));
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    const HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inherited, OPEN_EXISTING, 0, nullptr);
    const HANDLE out = captureFile();
    const HANDLE err = captureFile();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    RunResult result;
    // wine now and then fails to start a process that starts at once when asked again.
    bool started = false;
    DWORD startError = 0;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        if (attempt > 0) Sleep(200);
        started = CreateProcessW(wide(program).c_str(), commandLine.data(), nullptr, nullptr,
                                 TRUE, 0, nullptr, wide(workDir).c_str(), &startup, &process);
        if (!started) startError = GetLastError();
    }
    if (started) {
        if (WaitForSingleObject(process.hProcess, 1000u * timeoutSeconds) == WAIT_TIMEOUT) {
            TerminateProcess(process.hProcess, 128 + 9);
            WaitForSingleObject(process.hProcess, INFINITE);
        }
        DWORD status = 0;
        GetExitCodeProcess(process.hProcess, &status);
        result.status = static_cast<int>(status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(input);
    result.out = capturedText(out);
    result.err = capturedText(err);
    if (!started) {
        result.status = 127;
        result.err = "could not start " + program + ": error " + std::to_string(startError);
    }
    return result;
}
#else
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
#endif

std::string exactly(const std::string& text) {
    std::string pattern = "^";
    for (char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) pattern += '\\';
        pattern += c;
    }
    return pattern + "$";
}

namespace {

#ifdef _WIN32
// The C runtime's tmpfile makes its files in the drive's root under names counted per process,
// which tests running side by side take from each other: a unique name in the temporary folder,
// removed when closed.
FILE* temporaryStream() {
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (!GetTempPathW(MAX_PATH + 1, folder) || !GetTempFileNameW(folder, L"lsm", 0, name))
        return nullptr;
    return _wfopen(name, L"w+bTD");
}
#else
FILE* temporaryStream() {
    return std::tmpfile();
}
#endif

}  // namespace

FILE* streamOf(const std::vector<uint8_t>& bytes) {
    FILE* stream = temporaryStream();
    if (!stream || (!bytes.empty() &&
                    std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()))
        throw std::runtime_error("cannot write a temporary file");
    std::rewind(stream);
    return stream;
}

bool makeFolder(const std::string& path) {
#ifdef _WIN32
    return mkdir(path.c_str()) == 0;
#else
    return mkdir(path.c_str(), 0777) == 0;
#endif
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
