#include "PaneExport.h"

#include "CRegularFile.h"
#include "FileErrorText.h"
#include "TextEncoding.h"
#include "WriteAll.h"

#include <unistd.h>

#include <cerrno>

namespace PaneExport {

int Write(const std::string& strPath, std::u16string_view text) {
    const std::string bytes = TextEncoding::ToUtf16Le(text);
    CRegularFile file;
    if (const int nError = file.OpenToWrite(strPath))
        return nError;
    errno = 0;
    if (!WriteAll(file.Get(), bytes.data(), bytes.size()))
        return errno != 0 ? errno : EIO;
    if (::fsync(file.Get()) != 0)
        return errno;
    return file.Close();
}

std::optional<std::string> Save(const std::string& strPath, std::u16string_view text) {
    const int nError = Write(strPath, text);
    if (nError == 0)
        return std::nullopt;
    return FileErrorText::Message(nError, strPath);
}

} // namespace PaneExport
