#pragma once

// Helpers the journal manager (Glide.cpp), its load (JournalLoad.cpp) and the
// voucher import share. Internal to the host library.

#include <cstdint>
#include <map>
#include <string>

namespace ledgerhost::glide {

// Checks a table name before it is spliced into SQL: only the two journal
// tables exist. Throws StoreError for any other name.
const std::string& checkedTable(const std::string& name);

// The side a balance stands on: "借", "贷" or "平" (zero). The journals keep
// the enterprise's side, where a positive balance is a debit; the statement
// keeps the bank's, where it is a credit.
std::string directionOf(std::int64_t cents, bool bankSide);

// Bounds typed into a filter can be any double: they are clamped to what a
// stored value can be before they become integers, so a huge bound means
// "everything" or "nothing" rather than undefined behaviour.
std::int64_t wholeBound(double v, bool lower);
std::int64_t centsBound(double v);

// The sort keys a journal offers: the column each stands for, and the row
// value the load compares when it orders rows itself.
enum class SortKey { Date, Number, Debit, Credit, Summary, PayCode };
struct SortColumn {
    const char* column;
    SortKey key;
};
const std::map<std::string, SortColumn>& orderColumns();

}  // namespace ledgerhost::glide
