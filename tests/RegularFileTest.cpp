// The files the program writes and reads itself: a regular file, or nothing.
#include "CRegularFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class RegularFileTest : public testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("wirelet-regular-" + std::to_string(getpid()));
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path m_dir;
};

// A port is never even opened (the watch would see it), and an open that
// waited for a FIFO's other end would be cut by the alarm, failing with EINTR.
TEST_F(RegularFileTest, AnythingElseIsRefusedUnopenedAtOnceAndGetsNothing) {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigaction(SIGALRM, &action, nullptr);
    const std::string strFifo = m_dir / "fifo", strSocket = m_dir / "socket";
    ASSERT_EQ(mkfifo(strFifo.c_str(), 0600), 0);
    const CScopedFd server(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strSocket.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(server.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const CScopedFd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(master.IsValid() && grantpt(master.Get()) == 0 && unlockpt(master.Get()) == 0);
    const std::string strPort = ptsname(master.Get());
    const CScopedFd watch(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    ASSERT_GE(inotify_add_watch(watch.Get(), strPort.c_str(), IN_OPEN), 0);
    fs::create_symlink(strPort, m_dir / "port");
    const CScopedFd reader(open(strFifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));

    alarm(5);
    for (const std::string& strPath : {strPort, (m_dir / "port").string(), strFifo, strSocket}) {
        CRegularFile file;
        EXPECT_EQ(file.OpenToWrite(strPath), CRegularFile::NOT_REGULAR) << strPath;
        EXPECT_EQ(file.OpenToRead(strPath), CRegularFile::NOT_REGULAR) << strPath;
    }
    EXPECT_EQ(CRegularFile().OpenToWrite(m_dir), EISDIR);
    EXPECT_EQ(CRegularFile().OpenToRead(m_dir), EISDIR);
    alarm(0);
    char by[64];
    EXPECT_EQ(read(reader.Get(), by, 1), 0) << "no writer ever had the FIFO open";
    EXPECT_LT(read(watch.Get(), by, sizeof by), 0) << "the port was opened";
}

TEST_F(RegularFileTest, AFileIsEmptiedOnlyForWritingAndAMissingOneMadeOnlyThen) {
    const std::string strFile = m_dir / "file";
    std::ofstream(strFile) << "old";
    CRegularFile file;
    EXPECT_EQ(file.OpenToRead(strFile), 0);
    EXPECT_EQ(fs::file_size(strFile), 3u);
    EXPECT_EQ(file.OpenToWrite(strFile), 0);
    EXPECT_EQ(write(file.Get(), "new", 3), 3);
    EXPECT_EQ(file.Close(), 0);
    EXPECT_EQ(fs::file_size(strFile), 3u);
    EXPECT_EQ(file.OpenToRead(m_dir / "missing"), ENOENT);
    EXPECT_FALSE(fs::exists(m_dir / "missing"));
    EXPECT_EQ(file.OpenToWrite(m_dir / "missing"), 0);
    EXPECT_TRUE(fs::is_regular_file(m_dir / "missing"));
}

} // namespace
