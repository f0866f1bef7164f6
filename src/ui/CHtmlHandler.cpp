#include "CHtmlHandler.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

namespace {

constexpr int XDG_MIME_TIMEOUT_MS = 3000;

const QRegularExpression& FieldCode() {
    static const QRegularExpression s_re(QStringLiteral("%[uUfF]"));
    return s_re;
}

const QRegularExpression& QuotedFieldCode() {
    static const QRegularExpression s_re(QStringLiteral("\"%[uUfF]\""));
    return s_re;
}

QStringList ApplicationDirs() {
    const QString strHome =
        qEnvironmentVariable("XDG_DATA_HOME", QDir::homePath() + "/.local/share");
    QStringList dirs{strHome};
    QString strDataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (strDataDirs.isEmpty())
        strDataDirs = QStringLiteral("/usr/local/share:/usr/share");
    dirs += strDataDirs.split(':', Qt::SkipEmptyParts);
    for (QString& strDir : dirs)
        strDir += QStringLiteral("/applications/");
    return dirs;
}

} // namespace

QString CHtmlHandler::ExecOf(const QString& strDesktopEntry) {
    bool bInEntry = false;
    for (const QString& strRaw : strDesktopEntry.split('\n')) {
        const QString strLine = strRaw.trimmed();
        if (strLine.startsWith('['))
            bInEntry = strLine == QStringLiteral("[Desktop Entry]");
        else if (bInEntry && strLine.startsWith(QStringLiteral("Exec")) &&
                 strLine.mid(4).trimmed().startsWith('='))
            return strLine.mid(strLine.indexOf('=') + 1).trimmed();
    }
    return {};
}

QString CHtmlHandler::CutFieldCode(const QString& strExec) {
    const QRegularExpressionMatch quoted = QuotedFieldCode().match(strExec);
    if (quoted.hasMatch())
        return strExec.left(quoted.capturedStart());
    const QRegularExpressionMatch bare = FieldCode().match(strExec);
    if (bare.hasMatch())
        return strExec.left(bare.capturedStart());
    return strExec;
}

QString CHtmlHandler::CommandLine(const QString& strExec, const QString& strTarget) {
    return CutFieldCode(strExec) + ' ' + strTarget;
}

QStringList CHtmlHandler::Arguments(const QString& strExec, const QString& strTarget) {
    // Desktop entries quote with double quotes, inside which a backslash
    // escapes the next character; "%%" is a literal percent sign.
    QStringList args;
    QString strArg;
    bool bInArg = false, bQuoted = false;
    const QString strCommand = CutFieldCode(strExec);
    for (qsizetype i = 0; i < strCommand.size(); ++i) {
        const QChar c = strCommand[i];
        if (bQuoted && c == '\\' && i + 1 < strCommand.size()) {
            strArg += strCommand[++i];
        } else if (c == '"') {
            bQuoted = !bQuoted;
            bInArg = true;
        } else if (!bQuoted && c.isSpace()) {
            if (bInArg)
                args += strArg;
            strArg.clear();
            bInArg = false;
        } else if (c == '%' && i + 1 < strCommand.size() && strCommand[i + 1] == '%') {
            strArg += c;
            ++i;
            bInArg = true;
        } else {
            strArg += c;
            bInArg = true;
        }
    }
    if (bInArg)
        args += strArg;
    args += strTarget;
    return args;
}

QString CHtmlHandler::DefaultExec() {
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
    if (!query.waitForFinished(XDG_MIME_TIMEOUT_MS) || query.exitStatus() != QProcess::NormalExit ||
        query.exitCode() != 0)
        return {};
    const QString strEntryId = QString::fromUtf8(query.readAllStandardOutput()).trimmed();
    if (strEntryId.isEmpty() || strEntryId.contains('/'))
        return {};
    for (const QString& strDir : ApplicationDirs()) {
        QFile file(strDir + strEntryId);
        if (file.open(QIODevice::ReadOnly))
            return ExecOf(QString::fromUtf8(file.readAll()));
    }
    return {};
}
