#include "SignIn.h"

#include <errno.h>

#include <QDateTime>
#include <algorithm>
#include <optional>

#include "Passwords.h"
#include "Users.h"

namespace ledgerhost {

namespace {

const char* const kTimeFormat = "yyyy-MM-dd HH:mm:ss";

struct StoredUser {
    std::string name;
    bool administrator = false;
    std::optional<std::string> hash;
    bool mustChange = false;
    int wrong = 0;
    std::string lockedUntil;
};

std::optional<StoredUser> storedUser(Database& db, const std::string& code) {
    Stmt s = db.prepare(
        "SELECT name, is_admin, password_hash, password_must_change, failed_sign_ins, "
        "locked_until FROM users WHERE code = ?");
    s.bind(1, code);
    if (!s.step()) return std::nullopt;
    StoredUser u;
    u.name = s.text(0);
    u.administrator = s.i32(1) != 0;
    if (!s.isNull(2)) u.hash = s.text(2);
    u.mustChange = s.i32(3) != 0;
    u.wrong = s.i32(4);
    if (!s.isNull(5)) u.lockedUntil = s.text(5);
    return u;
}

void record(Database& db, const std::string& user, const std::string& at, const char* event,
            const std::string& by = {}) {
    Stmt s = db.prepare(
        "INSERT INTO sign_in_log (user_code, signed_at, program, event, by_user) "
        "VALUES (?, ?, ?, ?, ?)");
    s.bind(1, user).bind(2, at).bind(3, programName()).bind(4, event).bind(5, by);
    s.run();
}

// The time `seconds` after the database's time `now`, in its form.
std::string later(const std::string& now, int seconds) {
    const QDateTime t = QDateTime::fromString(QString::fromStdString(now), kTimeFormat);
    return t.addSecs(seconds).toString(kTimeFormat).toStdString();
}

std::int64_t secondsBetween(const std::string& from, const std::string& to) {
    const QDateTime a = QDateTime::fromString(QString::fromStdString(from), kTimeFormat);
    const QDateTime b = QDateTime::fromString(QString::fromStdString(to), kTimeFormat);
    return a.isValid() && b.isValid() ? a.secsTo(b) : 0;
}

std::string who(const std::string& code, const std::string& name) {
    return name.empty() ? code : code + "（" + name + "）";
}

// Stores a new hash for `user` where the stored one is still `expected`
// (none for NULL), so that of two changes at once one wins and the other
// is told. Answers false when the stored hash was another.
bool storeHash(Database& db, const std::string& user, const std::optional<std::string>& expected,
               const std::string& hash, bool mustChange) {
    Stmt s =
        db.prepare(std::string("UPDATE users SET password_hash = ?, password_must_change = ?, "
                               "failed_sign_ins = 0, locked_until = NULL WHERE code = ? AND ") +
                   (expected ? "password_hash = ?" : "password_hash IS NULL"));
    s.bind(1, hash).bind(2, mustChange ? 1 : 0).bind(3, user);
    if (expected) s.bind(4, *expected);
    s.run();
    return db.changes() == 1;
}

}  // namespace

std::string programName() {
    return program_invocation_short_name ? program_invocation_short_name : "chuna";
}

int signInWaitSeconds(int wrong) {
    if (wrong < kWrongPasswordsBeforeWait) return 0;
    const int doublings = std::min(wrong - kWrongPasswordsBeforeWait, 7);
    return std::min(30 << doublings, 3600);
}

SignedIn signIn(Database& db, const std::string& user, const std::string& password) {
    std::optional<StoredUser> u = storedUser(db, user);
    const std::string now = db.serverTime();
    if (!u) {
        Transaction t(db);
        record(db, "", now, "unknown");
        t.commit();
        throw SignInError("操作员 " + user + " 不存在。");
    }
    const std::string name = who(user, u->name);
    if (!u->lockedUntil.empty() && u->lockedUntil > now) {
        Transaction t(db);
        record(db, user, now, "waiting");
        t.commit();
        throw SignInError(
            "操作员 " + name + " 已连续 " + std::to_string(u->wrong) + " 次输错密码，请在 " +
            u->lockedUntil + " 之后再试（还要等 " +
            std::to_string(std::max<std::int64_t>(1, secondsBetween(now, u->lockedUntil))) +
            " 秒）。");
    }
    SignedIn out{user, u->name, u->administrator, SignInNeeds::Nothing};
    if (!u->hash) {
        if (!u->administrator) {
            Transaction t(db);
            record(db, user, now, "no-password");
            t.commit();
            throw SignInError("操作员 " + name + " 还没有密码：请系统管理员先为其设置初始密码。");
        }
        out.Needs = SignInNeeds::FirstPassword;
        return out;
    }
    // The hash is checked outside any transaction: it takes a while, and the
    // store's writers need not wait for it.
    if (!passwordMatches(*u->hash, password)) {
        Transaction t(db);
        Stmt add = db.prepare(
            "UPDATE users SET failed_sign_ins = failed_sign_ins + 1 WHERE code = ? "
            "RETURNING failed_sign_ins");
        add.bind(1, user);
        const int wrong = static_cast<int>(add.returning());
        const int wait = signInWaitSeconds(wrong);
        std::string until;
        if (wait > 0) {
            until = later(now, wait);
            Stmt lock = db.prepare("UPDATE users SET locked_until = ? WHERE code = ?");
            lock.bind(1, until).bind(2, user);
            lock.run();
        }
        record(db, user, now, "wrong");
        t.commit();
        std::string message = "操作员 " + name + " 的密码不对。";
        if (wait > 0)
            message +=
                "已连续 " + std::to_string(wrong) + " 次输错密码，请在 " + until + " 之后再试。";
        else if (kWrongPasswordsBeforeWait - wrong <= 2)
            message += "再输错 " + std::to_string(kWrongPasswordsBeforeWait - wrong) +
                       " 次就要等待一段时间才能再试。";
        throw SignInError(message);
    }
    // A right password writes nothing, unless it ends a run of wrong ones: a
    // sign-in for a backup leaves the database as it was.
    if (u->wrong != 0 || !u->lockedUntil.empty()) {
        Transaction t(db);
        Stmt clear =
            db.prepare("UPDATE users SET failed_sign_ins = 0, locked_until = NULL WHERE code = ?");
        clear.bind(1, user);
        clear.run();
        record(db, user, now, "right-after-wrong");
        t.commit();
    }
    if (u->mustChange) out.Needs = SignInNeeds::NewPassword;
    return out;
}

void changePassword(Database& db, const std::string& user, const std::string& oldPassword,
                    const std::string& newPassword) {
    if (std::string why = newPasswordProblem(newPassword); !why.empty()) throw SignInError(why);
    std::optional<StoredUser> u = storedUser(db, user);
    if (!u) throw SignInError("操作员 " + user + " 不存在。");
    if (u->hash) {
        if (!passwordMatches(*u->hash, oldPassword))
            throw SignInError("原密码不对，密码没有修改。");
        if (passwordMatches(*u->hash, newPassword)) throw SignInError("新密码不能与原密码相同。");
    } else if (!u->administrator) {
        throw SignInError("操作员 " + who(user, u->name) +
                          " 还没有密码：请系统管理员先为其设置初始密码。");
    }
    const std::string hash = hashPassword(newPassword);
    Transaction t(db);
    if (!storeHash(db, user, u->hash, hash, false))
        throw SignInError("密码刚刚被其他程序修改过，这次没有修改。请重新登录。");
    record(db, user, db.serverTime(), u->hash ? "changed" : "first-set", user);
    t.commit();
}

void resetPassword(Database& db, const std::string& actor, const std::string& user,
                   const std::string& initialPassword) {
    if (std::string why = newPasswordProblem(initialPassword); !why.empty()) throw SignInError(why);
    const std::string hash = hashPassword(initialPassword);
    Transaction t(db);
    requireAdministrator(db, actor);
    if (!storedUser(db, user)) throw SignInError("操作员 " + user + " 不存在。");
    Stmt s = db.prepare(
        "UPDATE users SET password_hash = ?, password_must_change = 1, failed_sign_ins = 0, "
        "locked_until = NULL WHERE code = ?");
    s.bind(1, hash).bind(2, user);
    s.run();
    record(db, user, db.serverTime(), "reset", actor);
    t.commit();
}

std::string needsMessage(const SignedIn& who) {
    switch (who.Needs) {
        case SignInNeeds::NewPassword:
            return "操作员 " + who.UserCode +
                   " 的初始密码已过期，必须先修改密码：在 ledger 中登录，或运行 chuna-admin "
                   "password。";
        case SignInNeeds::FirstPassword:
            return "系统管理员 " + who.UserCode +
                   " 还没有设置密码：请先在 ledger 中登录设置，或运行 chuna-admin password。";
        case SignInNeeds::Nothing:
            break;
    }
    return {};
}

}  // namespace ledgerhost
