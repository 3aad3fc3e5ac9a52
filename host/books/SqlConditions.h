#pragma once

// Filter conditions for a query, written as SQL with named parameters.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "LhApi.h"
#include "Store.h"

namespace ledgerhost {

class TCaGlideQry;

// Values for the named parameters of an SQL text (":name"). A statement gets
// every value whose name its text uses; a name used twice is bound once.
class LH_API SqlParams {
  public:
    using Value = std::variant<std::int64_t, std::string>;

    // Sets the value of ":name" (given without the colon) and answers the
    // placeholder to write into the text.
    std::string set(std::string_view name, Value value);
    // Binds every value whose name the statement uses; the others are left.
    void bindTo(Stmt& st) const;

  private:
    std::vector<std::pair<std::string, Value>> values_;
};

// Conditions joined by AND, each with its values as named parameters.
class LH_API SqlConditions {
  public:
    // column = :name, when the value is not empty (an empty text is no
    // condition).
    void equal(std::string_view column, std::string_view name, const std::string& value);
    // expr <op> :name, for op one of =, <, <=, >, >=.
    void compare(std::string_view expr, std::string_view op, std::string_view name,
                 SqlParams::Value value);
    // column contains the text (LIKE with the text's own % and _ taken
    // literally; letter case aside, on either engine), when the text is not
    // empty.
    void contains(std::string_view column, std::string_view name, const std::string& text);
    // expr BETWEEN :name_lo AND :name_hi.
    void between(std::string_view expr, std::string_view name, std::int64_t lo, std::int64_t hi);

    // The conditions joined by AND; "1=1" when there are none.
    std::string sql() const;
    bool empty() const { return sql_.empty(); }
    const SqlParams& params() const { return params_; }
    SqlParams& params() { return params_; }

  private:
    std::string sql_;
    SqlParams params_;
};

// The columns a row query compares the journal conditions with.
struct RowColumns {
    const char* applyUser;
    const char* counterpart;
    const char* department;
    const char* payCode;
    const char* payMode;
    const char* summary;
    const char* voucherClass;
};

// How the cheque number and the summary are compared: the journal filter finds
// rows that contain the typed text, the voucher import lines whose text is the
// one chosen.
enum class TextMatch { Equal, Contains };

// The conditions the journal filter and the voucher import share: the user,
// counterpart, department, cheque number, settlement mode and summary, each
// when not empty, and the voucher type when not 0.
LH_API void addRowConditions(SqlConditions& c, const TCaGlideQry& q, const RowColumns& columns,
                             TextMatch texts = TextMatch::Equal);

}  // namespace ledgerhost
