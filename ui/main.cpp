// kelvaron-eval: the desktop program. The main window holds every command; the
// program ends when it closes.

#include "Unit1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The viewer may still be open when the main window closes; the program ends
    // all the same.
    QApplication::setQuitOnLastWindowClosed(false);
    TForm1 Form1;
    QObject::connect(&Form1, &TForm1::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    Form1.show();
    return QApplication::exec();
}
