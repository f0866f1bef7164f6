#include "PaneExport.h"

#include "CScopedFd.h"
#include "FileErrorText.h"
#include "TextEncoding.h"
#include "WriteAll.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace PaneExport {

int Write(const std::string& strPath, std::u16string_view text) {
    const std::string bytes = TextEncoding::ToUtf16Le(text);
    CScopedFd file(::open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.IsValid())
        return errno;
    errno = 0;
    if (!WriteAll(file.Get(), bytes.data(), bytes.size()))
        return errno != 0 ? errno : EIO;
    // Devices and pipes cannot be synced; for them the write was the whole job.
    if (::fsync(file.Get()) != 0 && errno != EINVAL && errno != EROFS)
        return errno;
    return ::close(file.Release()) == 0 ? 0 : errno;
}

std::optional<std::string> Save(const std::string& strPath, std::u16string_view text) {
    const int nError = Write(strPath, text);
    if (nError == 0)
        return std::nullopt;
    return FileErrorText::Message(nError, strPath);
}

} // namespace PaneExport
