// SPDX-License-Identifier: GPL-3.0-or-later
// vorta-cli run to its end: its exit status (-1 when a signal ended it) and
// what it printed. Needs VORTA_CLI_PATH.
#pragma once

#include <QProcess>
#include <QStringList>

#include <string>

struct TRun {
    int Status = -1;
    std::string Out, Err;
};

inline TRun Cli(const QStringList& Args) {
    QProcess P;
    P.start(QStringLiteral(VORTA_CLI_PATH), Args);
    P.waitForFinished(30000);
    return {P.exitStatus() == QProcess::NormalExit ? P.exitCode() : -1,
            P.readAllStandardOutput().toStdString(), P.readAllStandardError().toStdString()};
}
