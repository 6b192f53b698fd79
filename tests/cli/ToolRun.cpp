#include "ToolRun.h"

#include "TestSupport.h"
#include "files/AtomicFile.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

TOutcome RunTool(const std::vector<std::string>& arguments, const std::string& folder,
                 const std::vector<TLimit>& limits,
                 std::optional<std::pair<int, std::chrono::microseconds>> signal) {
    // stderr comes through a pipe: a limit on file sizes must not silence it.
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        throw std::runtime_error("no pipe");
    std::vector<std::string> all{KELVARON_CLI};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null < 0 || ::dup2(pipeEnds[1], 2) < 0 || ::dup2(null, 1) < 0 ||
            ::chdir(folder.c_str()) != 0)
            ::_exit(120);
        ::close(pipeEnds[0]);
        for (const TLimit& limit : limits) {
            const rlimit value{limit.Value, limit.Value};
            if (::setrlimit(limit.Resource, &value) != 0)
                ::_exit(121);
        }
        ::execv(argv[0], argv.data());
        ::_exit(122);
    }
    ::close(pipeEnds[1]);
    TOutcome outcome;
    std::thread reader([&outcome, fd = pipeEnds[0]] {
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            outcome.Err.append(buffer, std::size_t(n));
        ::close(fd);
    });
    if (signal) {
        std::this_thread::sleep_for(signal->second);
        ::kill(child, signal->first);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    reader.join();
    outcome.Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.PeakKiB = usage.ru_maxrss;
    if (WIFEXITED(status))
        outcome.ExitCode = WEXITSTATUS(status);
    else
        outcome.Signal = WTERMSIG(status);
    return outcome;
}

std::size_t Lines(const std::string& text) {
    return std::size_t(std::count(text.begin(), text.end(), '\n'));
}

std::vector<std::string> TemporaryFiles(const std::string& folder) {
    std::vector<std::string> found;
    for (const std::string& name : ListFolder(folder))
        if (IsTemporaryFileName(name))
            found.push_back(name);
    return found;
}
