#pragma once

#include "Glide.h"
#include "LhApi.h"

namespace ledgerhost {

// Draws journal rows from the ledger's vouchers: the voucher lines that post to
// the ledger subject of the conditions' account and meet the other conditions
// of the journal manager become rows of the manager's table.
class LH_API TCaInputVoucherMng {
  public:
    // Reads the qualifying voucher lines and adds one pending row per line to
    // the manager. A line already drawn into the manager's table is left out,
    // so importing the same range twice adds nothing. Answers the rows added.
    static int Loaddata(Database& db, TCaGlideMng& mng);
    // The same in the open book-set database.
    static int Loaddata(TCaGlideMng& mng);
    // Stores the pending rows in one transaction (all or none).
    static void SaveData(TCaGlideMng& mng);
};

}  // namespace ledgerhost
