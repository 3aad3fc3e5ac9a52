#pragma once

// The ICBC statement both import benchmarks read (SQLite and the server), so
// their figures are of the same file: account line, four header lines, then
// `lines` transactions, half credits and half debits, each with the bank's
// balance after it (field 10, which the import checks), encoded in GBK.

#include <cstdint>
#include <cstdio>
#include <string>

#include "Codec.h"
#include "Numbers.h"

inline std::string icbcText(int lines) {
    std::string text = "账号:6222001\r\n户名:总公司\r\n币种:人民币\r\n起止日期\r\n表头\r\n";
    text.reserve(static_cast<std::size_t>(lines) * 96);
    std::int64_t balance = 0;
    for (int i = 0; i < lines; ++i) {
        int day = 1 + i % 28, month = 1 + (i / 28) % 12;
        balance += i % 2 ? 123456 : -98765;
        char line[240];
        std::snprintf(line, sizeof line,
                      "%d^2024-%02d-%02d^10:00^x^对方%d^转账^人民币^%d-货款%d^%s^%s^%s\r\n", i,
                      month, day, i % 100, 300000 + i, i % 50, i % 2 ? "1,234.56" : "",
                      i % 2 ? "" : "987.65", ledgerhost::formatCents(balance).c_str());
        text += line;
    }
    return ledgerhost::utf8ToGbk(text);
}
