#include "CPty.h"
#include "CRegularFile.h"

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

// A port is never even opened (the watch would see it), and an open that
// waited for a FIFO's other end would be ended, with the test, by the alarm.
TEST(RegularFileTest, OnlyARegularFileIsOpenedAndOnlyToWriteIsItEmptied) {
    const fs::path dir = fs::temp_directory_path() / ("wirelet-file-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const CPty pty;
    const std::string strPort = pty.Slave(), strFifo = dir / "fifo";
    const CScopedFd watch(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    ASSERT_GE(inotify_add_watch(watch.Get(), strPort.c_str(), IN_OPEN), 0);
    fs::create_symlink(strPort, dir / "port");
    ASSERT_EQ(mkfifo(strFifo.c_str(), 0600), 0);
    alarm(5);
    for (const std::string& strPath : {strPort, (dir / "port").string(), strFifo}) {
        EXPECT_EQ(CRegularFile().OpenToWrite(strPath), CRegularFile::NOT_REGULAR) << strPath;
        EXPECT_EQ(CRegularFile().OpenToRead(strPath), CRegularFile::NOT_REGULAR) << strPath;
    }
    EXPECT_EQ(CRegularFile().OpenToWrite(dir), EISDIR);
    alarm(0);
    char by[64];
    EXPECT_LT(read(watch.Get(), by, sizeof by), 0) << "the port was opened";

    const std::string strFile = dir / "file";
    std::ofstream(strFile) << "old";
    EXPECT_EQ(CRegularFile().OpenToRead(strFile), 0);
    EXPECT_EQ(fs::file_size(strFile), 3u);
    EXPECT_EQ(CRegularFile().OpenToRead(dir / "missing"), ENOENT);
    EXPECT_EQ(CRegularFile().OpenToWrite(strFile), 0);
    EXPECT_EQ(fs::file_size(strFile), 0u);
    fs::remove_all(dir);
}
