// The window tests: the log, then the main window with its viewer.

#include <QApplication>

int RunMsgTests(int argc, char* argv[]);
int RunWindowTests(int argc, char* argv[]);

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int failed = RunMsgTests(argc, argv) + RunWindowTests(argc, argv);
    return failed == 0 ? 0 : 1;
}
