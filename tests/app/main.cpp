#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir profile; // the program's profile, kept away from the user's
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, profile.path());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
