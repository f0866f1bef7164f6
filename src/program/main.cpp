#include "CMessageBox.h"
#include "CWireletApp.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    CMessageBox messageBox;
    SetAfxMessages(&messageBox);
    CWireletApp theApp;
    return theApp.Run(QApplication::arguments());
}
