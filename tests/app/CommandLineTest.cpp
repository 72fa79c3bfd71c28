// SPDX-License-Identifier: GPL-3.0-or-later
// The three programs' command lines, run as the user runs them: a bad value
// is one line on stderr and exit status 2; --version and --help answer on
// stdout and do nothing else.
#include "VortaVersion.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct RunResult {
    int Status = -1;
    QString Out, Err;
};

RunResult RunProgram(const QString& Program, const QStringList& Args, const QString& WorkDir) {
    QProcess P;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("QT_QPA_PLATFORM", "offscreen");
    // As in a desktop session: without it Qt itself writes a warning to stderr.
    Env.insert("XDG_RUNTIME_DIR", WorkDir + "/runtime");
    P.setProcessEnvironment(Env);
    P.setWorkingDirectory(WorkDir + "/work");
    P.start(Program, Args);
    RunResult R;
    // A command line that is wrongly accepted opens the window: kill it.
    if (!P.waitForFinished(30000)) {
        P.kill();
        P.waitForFinished();
        return R;
    }
    R.Status = P.exitStatus() == QProcess::NormalExit ? P.exitCode() : -1;
    R.Out = QString::fromLocal8Bit(P.readAllStandardOutput());
    R.Err = QString::fromLocal8Bit(P.readAllStandardError());
    return R;
}

TEST(CommandLine, BadValuesAreOneLineAndStatusTwoVersionAndHelpOnlyAnswer) {
    const QString Display = VORTA_DISPLAY_EXE, Sim = VORTA_SIM_EXE, Artgen = VORTA_ARTGEN_EXE;
    const QString Version = VORTA_VERSION;
    const struct {
        QString Program;
        QStringList Args;
        int Status;
        QString OutHas; // a part of stdout, "" for none at all
        QString ErrHas; // a part of the one line on stderr, "" for no line
    } Cases[] = {
        {Display, {"--delay", "-5"}, 2, "", "--delay needs a whole number"},
        {Display, {"--delay", "abc"}, 2, "", "not 'abc'"},
        {Display, {"--port=USB0", "--delay=1.5"}, 2, "", "not '1.5'"},
        {Display, {"--port"}, 2, "", "--port"},
        {Display, {"--record="}, 2, "", "--record needs a file name"},
        {Display, {"--frobnicate"}, 2, "", "frobnicate"},
        {Display, {"stray"}, 2, "", "stray"},
        {Display, {"--version"}, 0, "vorta-display " + Version + "\n", ""},
        {Display, {"--help"}, 0, "--screenshot <file>", ""},
        {Sim, {"--delay", "-5"}, 2, "", "--delay -5"},
        {Sim, {"--version"}, 0, "vorta-sim " + Version + "\n", ""},
        {Artgen, {"--version"}, 0, "vorta-artgen " + Version + "\n", ""},
        {Artgen, {"--help"}, 0, "[folder]", ""},
        {Artgen, {"--frobnicate"}, 2, "", "frobnicate"},
        {Artgen, {"one", "two"}, 2, "", "more than one folder"},
    };
    for (const auto& C : Cases) {
        const QString What = QFileInfo(C.Program).fileName() + " " + C.Args.join(' ');
        QTemporaryDir Dir;
        ASSERT_TRUE(QDir(Dir.path()).mkdir("work"));
        ASSERT_TRUE(QDir(Dir.path()).mkdir("runtime"));
        QFile(Dir.path() + "/runtime")
            .setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const RunResult R = RunProgram(C.Program, C.Args, Dir.path());
        EXPECT_EQ(R.Status, C.Status) << qPrintable(What);
        if (C.OutHas.isEmpty())
            EXPECT_EQ(R.Out, "") << qPrintable(What);
        else if (C.OutHas.endsWith('\n'))
            EXPECT_EQ(R.Out, C.OutHas) << qPrintable(What);
        else
            EXPECT_TRUE(R.Out.contains(C.OutHas)) << qPrintable(What) << "\n" << qPrintable(R.Out);
        if (C.ErrHas.isEmpty()) {
            EXPECT_EQ(R.Err, "") << qPrintable(What);
        } else {
            EXPECT_EQ(R.Err.count('\n'), 1) << qPrintable(What) << "\n" << qPrintable(R.Err);
            EXPECT_TRUE(R.Err.endsWith('\n') && R.Err.contains(C.ErrHas))
                << qPrintable(What) << "\n"
                << qPrintable(R.Err);
        }
        // Nothing is drawn or saved by a refused or answered command line.
        EXPECT_EQ(QDir(Dir.path() + "/work").entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                  QStringList())
            << qPrintable(What);
    }
}

} // namespace
