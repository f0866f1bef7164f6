#include "CLinkOpener.h"

#include "CHtmlHandler.h"
#include "CProgramStart.h"

#include <cerrno>
#include <map>

namespace {

// xdg-open returns once the handler has taken the target, but some handlers
// keep it waiting until they exit; still running by then counts as opened.
constexpr int XDG_OPEN_WAIT_MS = 1500;

} // namespace

int CLinkOpener::OpenTarget(const QString& strTarget) {
    const int nCode = Start({QStringLiteral("xdg-open"), strTarget}, XDG_OPEN_WAIT_MS);
    if (nCode > 32)
        return nCode;
    const QString strExec = CHtmlHandler::DefaultExec();
    if (strExec.isEmpty())
        return nCode;
    return Start(CHtmlHandler::Arguments(strExec, strTarget), -1);
}

int CLinkOpener::Start(const QStringList& args, int nTimeoutMs) {
    std::vector<std::string> vecArgs;
    for (const QString& strArg : args)
        vecArgs.push_back(strArg.toStdString());
    return CodeOf(nTimeoutMs < 0 ? CProgramStart::Start(vecArgs)
                                 : CProgramStart::Run(vecArgs, nTimeoutMs));
}

int CLinkOpener::CodeOf(const CProgramOutcome& outcome) {
    switch (outcome.eKind) {
    case CProgramOutcome::STARTED:
        return OPENED;
    case CProgramOutcome::EXITED:
        // xdg-open's documented exit codes.
        switch (outcome.nValue) {
        case 0:
            return OPENED;
        case 2:
            return ERROR_FILE_NOT_FOUND;
        case 3:
            return ERROR_NO_ASSOCIATION;
        case 4:
            return ERROR_ASSOCIATION_INCOMPLETE;
        default:
            return ERROR_UNKNOWN;
        }
    case CProgramOutcome::EXEC_FAILED:
        switch (outcome.nValue) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        case ENOMEM:
            return ERROR_OUT_OF_MEMORY;
        case ENOEXEC:
            return ERROR_BAD_FORMAT;
        default:
            return ERROR_UNKNOWN;
        }
    case CProgramOutcome::FAILED:
        break;
    }
    return 0;
}

QString CLinkOpener::ErrorText(int nCode) {
    static const std::map<int, const char*> s_texts = {
        {0, "The operating system is out\nof memory or resources."},
        {2, "The specified file was not found."},
        {3, "The specified path was not found."},
        {5, "The operating system denied\naccess to the specified file."},
        {8, "There was not enough memory to complete the operation."},
        {11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
        {26, "A sharing violation occurred. "},
        {27, "The filename association is\nincomplete or invalid."},
        {28, "The DDE transaction could not\nbe completed because the request timed out."},
        {29, "The DDE transaction failed."},
        {30, "The DDE transaction could not\nbe completed because other DDE "
             "transactions\nwere being processed."},
        {31, "There is no application associated\nwith the given filename extension."},
        {32, "The specified dynamic-link library was not found."},
    };
    const auto it = s_texts.find(nCode);
    const QString strText = it != s_texts.end()
                                ? QString::fromLatin1(it->second)
                                : QStringLiteral("Unknown Error (%1) occurred.").arg(nCode);
    return QStringLiteral("Unable to open hyperlink:\n\n") + strText;
}
