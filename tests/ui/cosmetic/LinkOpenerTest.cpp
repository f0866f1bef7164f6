#include "CHtmlHandler.h"
#include "CLinkOpener.h"
#include "CProgramStart.h"
#include "Process.h"

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

TEST(HtmlHandler, ReadsExecOfTheDesktopEntryGroupOnly) {
    const QString strEntry = QStringLiteral("[Desktop Action new-window]\nExec=browser --new %u\n"
                                            "[Desktop Entry]\nName=Browser\nExec = browser %U\n");
    EXPECT_EQ(CHtmlHandler::ExecOf(strEntry), QStringLiteral("browser %U"));
    EXPECT_EQ(CHtmlHandler::ExecOf(QStringLiteral("[Desktop Entry]\nName=x\n")), QString());
}

TEST(HtmlHandler, CutsTheCommandAtItsFieldCodeAndAppendsTheTarget) {
    const QString strTarget = QStringLiteral("https://wirelet.dev/a b\"c");
    struct {
        const char* pszExec;
        const char* pszCommandLine;
        QStringList args;
    } const cases[] = {
        {"firefox-esr %u", "firefox-esr  ", {QStringLiteral("firefox-esr")}},
        {"\"/opt/My Browser/run\" --x \"%F\" --tail",
         "\"/opt/My Browser/run\" --x  ",
         {QStringLiteral("/opt/My Browser/run"), QStringLiteral("--x")}},
        {"browser --url", "browser --url ", {QStringLiteral("browser"), QStringLiteral("--url")}},
        {"run \"a \\\"b\\\"\" 100%% %U",
         "run \"a \\\"b\\\"\" 100%%  ",
         {QStringLiteral("run"), QStringLiteral("a \"b\""), QStringLiteral("100%")}},
    };
    for (const auto& c : cases) {
        const QString strExec = QString::fromUtf8(c.pszExec);
        EXPECT_EQ(CHtmlHandler::CommandLine(strExec, strTarget),
                  QString::fromUtf8(c.pszCommandLine) + strTarget)
            << c.pszExec;
        EXPECT_EQ(CHtmlHandler::Arguments(strExec, strTarget), c.args + QStringList{strTarget})
            << c.pszExec;
    }
}

TEST(LinkOpener, ErrorTextsFollowTheShellCodes) {
    const QString strPrefix = QStringLiteral("Unable to open hyperlink:\n\n");
    EXPECT_EQ(CLinkOpener::ErrorText(26), strPrefix + "A sharing violation occurred. ");
    EXPECT_EQ(CLinkOpener::ErrorText(33), strPrefix + "Unknown Error (33) occurred.");
}

TEST(ProgramStart, PassesEachArgumentAsItIsAndReportsHowTheProgramEnded) {
    QTemporaryDir dir;
    const QString strOut = dir.filePath(QStringLiteral("out"));
    const std::string strArg = "a b\"c; $(touch x) 'd'";
    const CProgramOutcome started = CProgramStart::Start(
        {"sh", "-c", "printf %s \"$1\" > \"$2\"", "sh", strArg, strOut.toStdString()});
    EXPECT_EQ(started.eKind, CProgramOutcome::STARTED);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ReadText(strOut.toStdString()) == strArg; }));

    const CProgramOutcome exited = CProgramStart::Run({"sh", "-c", "exit 3"}, 10000);
    EXPECT_EQ(exited.eKind, CProgramOutcome::EXITED);
    EXPECT_EQ(exited.nValue, 3);
    const CProgramOutcome missing = CProgramStart::Start({"/nonexistent/browser"});
    EXPECT_EQ(missing.eKind, CProgramOutcome::EXEC_FAILED);
    EXPECT_EQ(missing.nValue, ENOENT);
    EXPECT_EQ(CProgramStart::Run({"sleep", "1"}, 20).eKind, CProgramOutcome::STARTED);
}
