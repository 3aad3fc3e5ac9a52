#include "ServerRoles.h"

#include "Store.h"

namespace ledgerhost {

namespace {

std::string ident(const std::string& name) {
    std::string out = "\"";
    for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

}  // namespace

bool serverRoleFromName(const std::string& name, ServerRole& out) {
    if (name == "reader")
        out = ServerRole::Reader;
    else if (name == "cashier")
        out = ServerRole::Cashier;
    else if (name == "admin")
        out = ServerRole::Admin;
    else
        return false;
    return true;
}

std::vector<std::string> grantServerRole(const std::string& location, const std::string& role,
                                         ServerRole kind) {
    if (!Database::isServerLocation(location))
        throw StoreError(
            "grant 只用于数据库服务器上的账套；SQLite 账套数据库文件的权限由文件系统决定。");
    Database db(location);
    {
        Stmt exists = db.prepare("SELECT 1 FROM pg_roles WHERE rolname = ?1");
        exists.bind(1, role);
        if (!exists.step())
            throw StoreError("数据库服务器上没有角色 " + role + "。请先建立它（CREATE ROLE " +
                             role + " LOGIN），再授予权限。");
    }
    const std::string schema = ident(db.serverSchema());
    const std::string owner = db.serverOwner();
    if (owner == role) throw StoreError("角色 " + role + " 是账套的所有者，已有全部权限。");
    std::string database;
    {
        Stmt s = db.prepare("SELECT current_database()");
        s.step();
        database = ident(s.text(0));
    }
    const std::string r = ident(role), o = ident(owner);
    const bool writes = kind != ServerRole::Reader;
    const std::string tables = writes ? "SELECT, INSERT, UPDATE, DELETE" : "SELECT";
    const std::string sequences = writes ? "USAGE, SELECT, UPDATE" : "SELECT";
    Transaction t(db);
    // From nothing, so a role given another kind before keeps no more.
    db.exec("REVOKE ALL ON ALL TABLES IN SCHEMA " + schema + " FROM " + r +
            "; REVOKE ALL ON ALL SEQUENCES IN SCHEMA " + schema + " FROM " + r +
            "; ALTER DEFAULT PRIVILEGES FOR ROLE " + o + " IN SCHEMA " + schema +
            " REVOKE ALL ON TABLES FROM " + r + "; ALTER DEFAULT PRIVILEGES FOR ROLE " + o +
            " IN SCHEMA " + schema + " REVOKE ALL ON SEQUENCES FROM " + r +
            "; REVOKE CREATE ON DATABASE " + database + " FROM " + r);
    {
        Stmt member = db.prepare("SELECT pg_has_role(?1, ?2, 'MEMBER') AND ?1 <> ?2");
        member.bind(1, role).bind(2, owner);
        if (member.step() && (member.text(0) == "t" || member.text(0) == "true"))
            db.exec("REVOKE " + o + " FROM " + r);
    }
    db.exec("GRANT CONNECT, TEMPORARY ON DATABASE " + database + " TO " + r +
            "; GRANT USAGE ON SCHEMA " + schema + " TO " + r + "; GRANT " + tables +
            " ON ALL TABLES IN SCHEMA " + schema + " TO " + r + "; GRANT " + sequences +
            " ON ALL SEQUENCES IN SCHEMA " + schema + " TO " + r +
            "; ALTER DEFAULT PRIVILEGES FOR ROLE " + o + " IN SCHEMA " + schema + " GRANT " +
            tables + " ON TABLES TO " + r + "; ALTER DEFAULT PRIVILEGES FOR ROLE " + o +
            " IN SCHEMA " + schema + " GRANT " + sequences + " ON SEQUENCES TO " + r);
    // The history of rows and sign-ins is only ever added to. Every role
    // signs in, so a reader too records its attempts and the count of wrong
    // passwords, and may change its own password.
    db.exec("REVOKE UPDATE, DELETE, TRUNCATE ON row_history, sign_in_log FROM " + r +
            "; GRANT INSERT ON sign_in_log TO " + r +
            "; GRANT UPDATE (password_hash, password_must_change, failed_sign_ins, "
            "locked_until) ON users TO " +
            r);
    std::vector<std::string> done = {"连接数据库、建立临时表", "使用模式 " + db.serverSchema(),
                                     "数据表：" + tables, "序列：" + sequences,
                                     "修改记录和登录记录：只能增加"};
    if (kind == ServerRole::Admin) {
        db.exec("GRANT " + o + " TO " + r + "; GRANT CREATE ON DATABASE " + database + " TO " + r);
        done.push_back("以所有者 " + owner + " 的身份恢复、升级和管理（所有者角色的成员）");
    }
    t.commit();
    return done;
}

}  // namespace ledgerhost
