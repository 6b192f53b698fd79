// The window tests: the log, then the main window's commands, settings, loads,
// current folder and "Save *.bin", the viewer, and whole runs.

#include <QApplication>

int RunMsgTests(int argc, char* argv[]);
int RunWindowCommandsTests(int argc, char* argv[]);
int RunStackCommandsTests(int argc, char* argv[]);

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    int failed = 0;
    for (const auto run : {RunMsgTests, RunWindowCommandsTests, RunStackCommandsTests})
        failed += run(argc, argv);
    return failed == 0 ? 0 : 1;
}
