#include "PaneExport.h"

#include "CRegularFile.h"
#include "FileErrorText.h"
#include "TextEncoding.h"
#include "WriteAll.h"

#include <unistd.h>

#include <cerrno>

namespace PaneExport {

namespace {

int WriteBytes(const std::string& strPath, std::string_view bytes) {
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

std::optional<std::string> Report(int nError, const std::string& strPath) {
    if (nError == 0)
        return std::nullopt;
    return FileErrorText::Message(nError, strPath);
}

} // namespace

int Write(const std::string& strPath, std::u16string_view text) {
    return WriteBytes(strPath, TextEncoding::ToUtf16Le(text));
}

std::optional<std::string> Save(const std::string& strPath, std::u16string_view text) {
    return Report(Write(strPath, text), strPath);
}

std::optional<std::string> SaveBytes(const std::string& strPath, std::string_view bytes) {
    return Report(WriteBytes(strPath, bytes), strPath);
}

} // namespace PaneExport
