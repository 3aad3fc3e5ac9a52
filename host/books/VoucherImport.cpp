#include "VoucherImport.h"

#include "GlideParts.h"
#include "History.h"
#include "SqlConditions.h"

namespace ledgerhost {

namespace {

// The voucher number of a voucher identifier, for a voucher-number range.
std::optional<std::int64_t> voucherNumber(Database& db, const std::string& id) {
    if (id.empty() || id == "0") return std::nullopt;
    Stmt s = db.prepare("SELECT voucher_no FROM vouchers WHERE id = ?");
    s.bind(1, id);
    if (!s.step()) return std::nullopt;
    return s.i64(0);
}

}  // namespace

// Conditions: the account (required) through its ledger subject; the book set
// (the current one when empty); the date range; the voucher type and the
// voucher-number range between the vouchers BVoucher_ID and EVoucher_ID; and,
// each when not empty, cheque number, settlement mode, summary, maker (the
// user condition), counterpart and department.
int TCaInputVoucherMng::Loaddata(TCaGlideMng& mng) {
    return Loaddata(currentDb(), mng);
}

int TCaInputVoucherMng::Loaddata(Database& db, TCaGlideMng& mng) {
    const TCaGlideQry& q = *mng.CaGlideQry();
    const std::string setCode = q.SetCode.empty() ? currentBookSet().Code : q.SetCode;
    if (q.AS_Code.empty()) throw StoreError("没有选择要导入的账号。");
    BankAccountPtr account = accountForRows(db, setCode, q.AS_Code);
    if (!account) throw StoreError("账号 " + q.AS_Code + " 不存在。");
    if (account->SubjectCode.empty())
        throw StoreError("账号 " + account->AccountNo + " 没有对应的会计科目。");

    SqlConditions c;
    c.compare("v.set_code", "=", "set", setCode);
    c.compare("l.subject_code", "=", "subject", account->SubjectCode);
    if (!q.BCreateDate.empty()) c.compare("v.vdate", ">=", "from", q.BCreateDate);
    if (!q.ECreateDate.empty()) c.compare("v.vdate", "<=", "to", q.ECreateDate);
    addRowConditions(c, q,
                     {"v.maker", "l.cr_code", "l.dp_code", "l.pay_code", "l.pm_code", "l.summary",
                      "v.voucher_class"});
    if (auto b = voucherNumber(db, q.BVoucher_ID)) c.compare("v.voucher_no", ">=", "first_no", *b);
    if (auto e = voucherNumber(db, q.EVoucher_ID)) c.compare("v.voucher_no", "<=", "last_no", *e);

    Stmt s = db.prepare(
        "SELECT l.id, v.id, v.vdate, v.voucher_class, v.voucher_no, l.summary, l.deb_cents, "
        "l.cre_cents, l.pay_code, l.pm_code, l.cr_code, l.dp_code "
        "FROM voucher_lines l JOIN vouchers v ON v.id = l.voucher_id WHERE " +
        c.sql() + " AND NOT EXISTS (SELECT 1 FROM " + glide::checkedTable(mng.TableName()) +
        " t WHERE t.voucher_line_id = l.id) "
        "ORDER BY v.vdate, v.voucher_class, v.voucher_no, l.line_no");
    c.params().bindTo(s);
    int added = 0;
    while (s.step()) {
        auto row = std::make_unique<TCaGlide>(mng.TableName());
        row->VoucherLineId = s.i64(0);
        row->Voucher_ID = std::to_string(s.i64(1));
        row->CreateDate = s.text(2);
        row->VoucherClass = s.i32(3);
        row->VoucherNo = static_cast<double>(s.i64(4));
        row->Summary = s.text(5);
        row->DebMoney = fromCents(s.i64(6));
        row->CreMoney = fromCents(s.i64(7));
        row->PayCode = s.text(8);
        row->PM_Code = s.text(9);
        row->SetCRCode(s.text(10));
        row->SetDPCode(s.text(11));
        row->SetCode = setCode;
        row->SetASCode(q.AS_Code);
        row->ApplyUser = User ? User->Code : std::string();
        row->GlideFlag = "1";
        row->OperFlag = "0";
        mng.Add(std::move(row));
        ++added;
    }
    return added;
}

// The rows drawn from vouchers get one history entry, as an import does.
void TCaInputVoucherMng::SaveData(TCaGlideMng& mng) {
    Database& db = currentDb();
    Transaction t(db);
    BatchHistory history(db, mng.TableName());
    mng.Save();
    history.record(BookManage && BookManage->BookSet ? BookManage->BookSet->Code : std::string(),
                   User ? User->Code : std::string(), 0);
    t.commit();
}

}  // namespace ledgerhost
