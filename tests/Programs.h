#pragma once

// Running the built programs from a test: the path of one in the build's
// program folder, and its end awaited (killed after the timeout) with its exit
// status (-1 when it crashed or was killed) and its output as UTF-8 text.

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <map>

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

// The password every test user and every demo user signs in with.
inline constexpr const char* kTestPassword = "demo123";

// A file holding `password` that only its owner may read, as the programs'
// --password-file asks; one per password for the test process.
inline QString passwordFile(const QString& password = QString::fromUtf8(kTestPassword)) {
    static QTemporaryDir dir;
    static std::map<QString, QString> made;
    auto& path = made[password];
    if (path.isEmpty()) {
        path = dir.filePath(QStringLiteral("pw%1").arg(made.size()));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        f.write((password + "\n").toUtf8());
    }
    return path;
}

// The arguments that sign a program in with `password` (never the password
// itself on the command line).
inline QStringList signedIn(const QString& password = QString::fromUtf8(kTestPassword)) {
    return {QStringLiteral("--password-file"), passwordFile(password)};
}

// `args` signed in with the tests' password unless they name a password file
// already; create-demo, which signs nobody in, is left as it is.
// The commands only an administrator may run sign in as `administrator`
// unless they name their --user.
inline QStringList withPassword(QStringList args,
                                const QString& administrator = QStringLiteral("u1")) {
    if (args.isEmpty() || args.first() == QStringLiteral("create-demo")) return args;
    static const QStringList administrators = {"backup", "restore", "copy", "upgrade", "grant"};
    if (administrators.contains(args.first()) && !args.contains(QStringLiteral("--user")))
        args << QStringLiteral("--user") << administrator;
    if (!args.contains(QStringLiteral("--password-file"))) args += signedIn();
    return args;
}

}  // namespace testutil
