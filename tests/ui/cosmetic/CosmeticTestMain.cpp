// Widget tests need an application object for the whole run.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // No sound card here: libcanberra is kept from asking ALSA for one.
    if (qEnvironmentVariableIsEmpty("CANBERRA_DRIVER"))
        qputenv("CANBERRA_DRIVER", "none");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
