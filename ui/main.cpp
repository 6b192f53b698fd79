// kelvaron-eval: the desktop program. The main window holds every command; the
// program ends when it closes.

#include "files/Interrupts.h"
#include "Unit1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // Told to stop while a file is written, the program removes its temporary files
    // first, so the former file stays as it was.
    InstallInterruptHandlers("kelvaron-eval");
    QApplication app(argc, argv);
    // The viewer may still be open when the main window closes; the program ends
    // all the same.
    QApplication::setQuitOnLastWindowClosed(false);
    TForm1 Form1;
    QObject::connect(&Form1, &TForm1::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    Form1.show();
    return QApplication::exec();
}
