#include "CMessageBox.h"
#include "CQuitSignals.h"
#include "CWireletApp.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    CMessageBox messageBox;
    SetAfxMessages(&messageBox);
    CWireletApp theApp;
    CQuitSignals quitSignals([&theApp] { theApp.OnQuitSignal(); });
    if (!theApp.InitInstance(QApplication::arguments()) || quitSignals.IsSignalled()) {
        theApp.ExitInstance();
        return 0;
    }
    const int nResult = QApplication::exec();
    theApp.ExitInstance();
    return nResult;
}
