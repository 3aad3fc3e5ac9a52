#pragma once

// The voucher a journal row links to, as the row shows it: the voucher's type
// and its number within that type, read from the voucher itself whenever rows
// are loaded, so that the grid and the entry dialog show the link the row
// really has and saving an unchanged link keeps it.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "Glide.h"
#include "Store.h"

namespace ledgerhost {

class VoucherLinks {
  public:
    explicit VoucherLinks(Database& db) : db_(db) {}

    // Sets the row's VoucherClass and VoucherNo from the voucher its
    // Voucher_ID names in its book set. A row without a link ("0", empty or
    // not a number), or whose voucher has since been deleted, gets VoucherNo 0
    // and keeps its VoucherClass; its Voucher_ID is left as stored, so that
    // the voucher viewer can say the voucher is gone.
    void fill(TCaGlide& row);

  private:
    struct Voucher {
        std::int32_t type = 0;
        std::int64_t number = 0;
    };
    // What is known of one book set's vouchers: those looked up one by one,
    // or, once many rows link to vouchers, all of them read at once.
    struct BookVouchers {
        std::unordered_map<std::int64_t, Voucher> known;
        std::unordered_set<std::int64_t> missing;
        bool all = false;
    };
    const Voucher* find(const std::string& setCode, std::int64_t id);

    Database& db_;
    std::unique_ptr<Stmt> one_;
    std::unordered_map<std::string, BookVouchers> books_;
};

}  // namespace ledgerhost
