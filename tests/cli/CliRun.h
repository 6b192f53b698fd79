#pragma once
// Running the command-line tool from a test as a user runs it.

#include "TestSupport.h"

#include <cstdlib>
#include <string>
#include <sys/wait.h>

struct TRun {
    int Status = -1;
    std::string Out, Err;
};

/// Runs the tool with arguments (already quoted for the shell) in folder.
inline TRun RunCli(const std::string& arguments, const std::string& folder = ".") {
    TTempDir capture;
    const std::string command = "cd '" + folder + "' && '" KELVARON_CLI "' " + arguments + " >'" +
                                (capture / "out") + "' 2>'" + (capture / "err") + "'";
    const int raw = std::system(command.c_str());
    TRun run;
    run.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.Out = ReadFileText(capture / "out");
    run.Err = ReadFileText(capture / "err");
    return run;
}
