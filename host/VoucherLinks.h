#pragma once

// The voucher a journal row links to, as the row shows it: the voucher's type
// and its number within that type, read from the voucher itself whenever rows
// are loaded, so that the grid and the entry dialog show the link the row
// really has and saving an unchanged link keeps it.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

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
        bool exists = false;
        std::int32_t type = 0;
        std::int64_t number = 0;
    };
    Database& db_;
    std::unique_ptr<Stmt> find_;
    std::unordered_map<std::string, Voucher> seen_;
};

}  // namespace ledgerhost
