#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    // No sound card here: libcanberra is kept from asking ALSA for one.
    if (qEnvironmentVariableIsEmpty("CANBERRA_DRIVER"))
        qputenv("CANBERRA_DRIVER", "none");
    QApplication app(argc, argv);
    // The program's profile, kept away from the user's.
    QTemporaryDir profile;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, profile.path());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
