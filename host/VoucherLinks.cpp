#include "VoucherLinks.h"

namespace ledgerhost {

namespace {

// The voucher identifier as a positive whole number; 0 for "0", empty or
// anything else.
std::int64_t voucherKey(const std::string& id) {
    if (id.empty() || id.size() > 18) return 0;
    std::int64_t v = 0;
    for (char c : id) {
        if (c < '0' || c > '9') return 0;
        v = v * 10 + (c - '0');
    }
    return v;
}

}  // namespace

void VoucherLinks::fill(TCaGlide& row) {
    row.VoucherNo = 0;
    const std::int64_t id = voucherKey(row.Voucher_ID);
    if (id == 0) return;
    std::string key = row.SetCode + '\x1f' + row.Voucher_ID;
    auto it = seen_.find(key);
    if (it == seen_.end()) {
        if (!find_)
            find_ =
                std::make_unique<Stmt>(db_.prepare("SELECT voucher_class, voucher_no FROM vouchers "
                                                   "WHERE id = ? AND set_code = ?"));
        find_->reset();
        find_->bind(1, id).bind(2, row.SetCode);
        Voucher v;
        if (find_->step()) v = {true, find_->i32(0), find_->i64(1)};
        find_->reset();
        it = seen_.emplace(std::move(key), v).first;
    }
    if (!it->second.exists) return;
    row.VoucherClass = it->second.type;
    row.VoucherNo = static_cast<double>(it->second.number);
}

}  // namespace ledgerhost
