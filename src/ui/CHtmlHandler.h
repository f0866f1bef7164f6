// The fallback for links that xdg-open could not open: the desktop entry of
// the default text/html handler, its Exec= command cut at the field code that
// stands for the file or URL, and the target appended as one argument.
#pragma once

#include <QString>
#include <QStringList>

class CHtmlHandler {
public:
    // The Exec= value of the [Desktop Entry] group of a desktop entry's text;
    // empty when it has none.
    static QString ExecOf(const QString& strDesktopEntry);
    // The command up to its first field code for a file or URL ("%u", "%U",
    // "%f", "%F"): quoted, it is cut at the opening quote; unquoted, at the
    // code; without one, the command is kept whole.
    static QString CutFieldCode(const QString& strExec);
    // The command line shown for strTarget: the cut command, a blank, the target.
    static QString CommandLine(const QString& strExec, const QString& strTarget);
    // What is executed for it: the cut command split into arguments the way
    // desktop entries quote them, then the target as one argument of its own,
    // whatever blanks or quotes it holds.
    static QStringList Arguments(const QString& strExec, const QString& strTarget);
    // The Exec= value of the default text/html handler (xdg-mime and the XDG
    // data directories); empty when there is none or it cannot be read.
    static QString DefaultExec();
};
