#include "TerminalSignIn.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "Session.h"
#include "Store.h"

namespace cli {

namespace {

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

std::string firstLine(std::string text) {
    const auto end = text.find('\n');
    if (end != std::string::npos) text.erase(end);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    return text;
}

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0 && errno != EINTR) return;
        if (n > 0) done += static_cast<std::size_t>(n);
    }
}

}  // namespace

std::string readPasswordFile(const std::string& path) {
    Descriptor f{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY)};
    if (f.fd < 0)
        throw PasswordUnreadable("无法读取密码文件 " + path + "：" +
                                 ledgerhost::systemReason(errno) + "。");
    // The file opened is the one judged, whatever its name points to by now.
    struct stat st {};
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw PasswordUnreadable("密码文件 " + path + " 不是普通文件。");
    if (st.st_mode & (S_IRGRP | S_IROTH)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        throw PasswordUnreadable("密码文件 " + path + " 的权限（" + mode +
                                 "）允许其他用户读取，没有使用。请先运行 chmod 600 " + path +
                                 "，只让自己读取。");
    }
    std::string text;
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(f.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            throw PasswordUnreadable("无法读取密码文件 " + path + "：" +
                                     ledgerhost::systemReason(errno) + "。");
        if (n == 0 || text.size() > 4096) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    std::string password = firstLine(text);
    if (password.empty()) throw PasswordUnreadable("密码文件 " + path + " 的第一行是空的。");
    return password;
}

std::string readTerminalPassword(const std::string& prompt) {
    Descriptor tty{::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY)};
    if (tty.fd < 0)
        throw PasswordUnreadable(
            "没有可以输入密码的终端：请用 --password-file 文件 指定密码文件（只让自己读取）。");
    termios before{};
    const bool quiet = ::tcgetattr(tty.fd, &before) == 0;
    if (quiet) {
        termios hidden = before;
        hidden.c_lflag &= static_cast<tcflag_t>(~ECHO);
        hidden.c_lflag |= ECHONL;
        ::tcsetattr(tty.fd, TCSAFLUSH, &hidden);
    }
    writeAll(tty.fd, prompt);
    std::string line;
    char c;
    for (;;) {
        const ssize_t n = ::read(tty.fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n' || line.size() > 4096) break;
        line += c;
    }
    if (quiet) ::tcsetattr(tty.fd, TCSAFLUSH, &before);
    return firstLine(line);
}

std::string passwordOf(const CommandLine& line, const std::string& prompt) {
    if (line.given("--password-file")) return readPasswordFile(line.value("--password-file"));
    return readTerminalPassword(prompt);
}

std::string newPasswordOf(const CommandLine& line) {
    if (line.given("--new-password-file"))
        return readPasswordFile(line.value("--new-password-file"));
    const std::string first = readTerminalPassword("新密码：");
    if (readTerminalPassword("再输一次新密码：") != first)
        throw PasswordUnreadable("两次输入的新密码不一致，密码没有修改。");
    return first;
}

std::optional<ledgerhost::SignedIn> signIn(ledgerhost::Database& db, const CommandLine& line,
                                           const std::string& program, bool needsAllowed) {
    const std::string user = line.value("--user");
    if (user.empty()) {
        std::cerr << program
                  << ": 需要 --user 操作员编码（密码从终端输入，或用 --password-file "
                     "文件）。\n";
        return std::nullopt;
    }
    try {
        const std::string password = passwordOf(line, "操作员 " + user + " 的密码：");
        ledgerhost::SignedIn who = ledgerhost::signIn(db, user, password);
        if (who.Needs != ledgerhost::SignInNeeds::Nothing && !needsAllowed) {
            std::cerr << program << ": " << ledgerhost::needsMessage(who) << "\n";
            return std::nullopt;
        }
        return who;
    } catch (const std::exception& e) {
        std::cerr << program << ": " << ledgerhost::withoutPassword(e.what(), db.path()) << "\n";
        return std::nullopt;
    }
}

std::vector<Option> bookSetOptions(std::initializer_list<Option> more) {
    std::vector<Option> options{{"--db", true},      {"--book", true},  {"--user", true},
                                kPasswordFileOption, {"--help", false}, {"-h", false}};
    options.insert(options.end(), more);
    return options;
}

std::unique_ptr<ledgerhost::HostSession> signedInSession(const CommandLine& line,
                                                         const std::string& program) {
    const std::string db = line.value("--db");
    // Nothing happens for a user who has not given the right password.
    {
        ledgerhost::Database store(db);
        if (!signIn(store, line, program)) return nullptr;
    }
    return std::make_unique<ledgerhost::HostSession>(db, line.value("--book"),
                                                     line.value("--user"));
}

}  // namespace cli
