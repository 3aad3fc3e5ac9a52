#include "SqlConditions.h"

#include "Glide.h"

namespace ledgerhost {

std::string SqlParams::set(std::string_view name, Value value) {
    std::string placeholder = ":" + std::string(name);
    for (auto& [n, v] : values_)
        if (n == placeholder) {
            v = std::move(value);
            return placeholder;
        }
    values_.emplace_back(placeholder, std::move(value));
    return placeholder;
}

void SqlParams::bindTo(Stmt& st) const {
    for (const auto& [name, value] : values_) {
        const int i = st.paramIndex(name.c_str());
        if (i == 0) continue;
        if (const auto* n = std::get_if<std::int64_t>(&value))
            st.bind(i, *n);
        else
            st.bind(i, std::get<std::string>(value));
    }
}

void SqlConditions::equal(std::string_view column, std::string_view name,
                          const std::string& value) {
    if (!value.empty()) compare(column, "=", name, value);
}

void SqlConditions::compare(std::string_view expr, std::string_view op, std::string_view name,
                            SqlParams::Value value) {
    if (!sql_.empty()) sql_ += " AND ";
    sql_ += std::string(expr) + " " + std::string(op) + " " + params_.set(name, std::move(value));
}

void SqlConditions::contains(std::string_view column, std::string_view name,
                             const std::string& text) {
    if (text.empty()) return;
    // "!" escapes the pattern characters: a backslash would mean different
    // things in the two engines' literals.
    std::string pattern = "%";
    for (char ch : text) {
        if (ch == '%' || ch == '_' || ch == '!') pattern += '!';
        pattern += ch;
    }
    pattern += '%';
    if (!sql_.empty()) sql_ += " AND ";
    sql_ += std::string(column) + " LIKE " + params_.set(name, std::move(pattern)) + " ESCAPE '!'";
}

void SqlConditions::between(std::string_view expr, std::string_view name, std::int64_t lo,
                            std::int64_t hi) {
    if (!sql_.empty()) sql_ += " AND ";
    const std::string n(name);
    sql_ += std::string(expr) + " BETWEEN " + params_.set(n + "_lo", lo) + " AND " +
            params_.set(n + "_hi", hi);
}

std::string SqlConditions::sql() const {
    return sql_.empty() ? std::string("1=1") : sql_;
}

void addRowConditions(SqlConditions& c, const TCaGlideQry& q, const RowColumns& columns,
                      TextMatch texts) {
    c.equal(columns.applyUser, "apply_user", q.ApplyUser);
    c.equal(columns.counterpart, "cr_code", q.CR_Code);
    c.equal(columns.department, "dp_code", q.DP_Code);
    if (texts == TextMatch::Contains)
        c.contains(columns.payCode, "pay_code", q.PayCode);
    else
        c.equal(columns.payCode, "pay_code", q.PayCode);
    c.equal(columns.payMode, "pm_code", q.PM_Code);
    if (texts == TextMatch::Contains)
        c.contains(columns.summary, "summary", q.Summary);
    else
        c.equal(columns.summary, "summary", q.Summary);
    if (q.VoucherClass != 0)
        c.compare(columns.voucherClass, "=", "voucher_class", std::int64_t(q.VoucherClass));
}

}  // namespace ledgerhost
