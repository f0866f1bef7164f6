#include "CWireletApp.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    CWireletApp theApp;
    if (!theApp.InitInstance(QApplication::arguments())) {
        theApp.ExitInstance();
        return 0;
    }
    const int nResult = QApplication::exec();
    theApp.ExitInstance();
    return nResult;
}
