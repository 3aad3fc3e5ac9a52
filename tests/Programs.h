#pragma once

// Running the built programs from a test: the path of one in the build's
// program folder, and its end awaited (killed after the timeout) with its exit
// status (-1 when it crashed or was killed) and its output as UTF-8 text.

#include <QProcess>
#include <QString>
#include <QStringList>

namespace testutil {

inline QString programPath(const QString& program) {
    return QStringLiteral(LEDGER_BIN_DIR) + "/" + program;
}

struct Outcome {
    int exitCode = -1;
    QString out, err;
};

inline Outcome finishProgram(QProcess& p, int timeoutMs) {
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
    }
    Outcome r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

}  // namespace testutil
