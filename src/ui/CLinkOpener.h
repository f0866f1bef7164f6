// Opens a link's target the way the shell would, with codes in the shell's
// numbering: above 32 for success, otherwise why it failed.
#pragma once

#include <QString>
#include <QStringList>

struct CProgramOutcome;

class CLinkOpener {
public:
    static constexpr int OPENED = 33;
    static constexpr int ERROR_FILE_NOT_FOUND = 2;
    static constexpr int ERROR_PATH_NOT_FOUND = 3;
    static constexpr int ERROR_ACCESS_DENIED = 5;
    static constexpr int ERROR_OUT_OF_MEMORY = 8;
    static constexpr int ERROR_BAD_FORMAT = 11;
    static constexpr int ERROR_ASSOCIATION_INCOMPLETE = 27;
    static constexpr int ERROR_NO_ASSOCIATION = 31;
    static constexpr int ERROR_UNKNOWN = 1;

    // xdg-open first; when it fails, the default text/html handler with the
    // target appended; when there is none, xdg-open's code.
    static int OpenTarget(const QString& strTarget);
    // The message shown for a failed open.
    static QString ErrorText(int nCode);

private:
    static int CodeOf(const CProgramOutcome& outcome);
    static int Start(const QStringList& args, int nTimeoutMs);
};
