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

// Past this many separate lookups in one book set, reading all its vouchers
// in one pass is cheaper than looking up the rest one by one.
constexpr std::size_t kSingleLookups = 256;

}  // namespace

const VoucherLinks::Voucher* VoucherLinks::find(const std::string& setCode, std::int64_t id) {
    BookVouchers& book = books_[setCode];
    if (auto it = book.known.find(id); it != book.known.end()) return &it->second;
    if (book.all || book.missing.count(id)) return nullptr;
    if (book.known.size() + book.missing.size() >= kSingleLookups) {
        Stmt s =
            db_.prepare("SELECT id, voucher_class, voucher_no FROM vouchers WHERE set_code = ?");
        s.bind(1, setCode);
        while (s.step()) book.known[s.i64(0)] = {s.i32(1), s.i64(2)};
        book.missing.clear();
        book.all = true;
        auto it = book.known.find(id);
        return it == book.known.end() ? nullptr : &it->second;
    }
    if (!one_)
        one_ = std::make_unique<Stmt>(db_.prepare(
            "SELECT voucher_class, voucher_no FROM vouchers WHERE id = ? AND set_code = ?"));
    one_->reset();
    one_->bind(1, id).bind(2, setCode);
    const bool found = one_->step();
    Voucher v = found ? Voucher{one_->i32(0), one_->i64(1)} : Voucher{};
    one_->reset();
    if (!found) {
        book.missing.insert(id);
        return nullptr;
    }
    return &book.known.emplace(id, v).first->second;
}

void VoucherLinks::fill(TCaGlide& row) {
    row.VoucherNo = 0;
    const std::int64_t id = voucherKey(row.Voucher_ID);
    if (id == 0) return;
    const Voucher* v = find(row.SetCode, id);
    if (!v) return;
    row.VoucherClass = v->type;
    row.VoucherNo = static_cast<double>(v->number);
}

}  // namespace ledgerhost
