#pragma once

// The journal manager's load: conditions, one query per book set, sections
// and summary lines. Internal to the host library (TCaGlideMng::Load).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Glide.h"

namespace ledgerhost {

// What a load reads from its manager.
struct JournalSource {
    Database& db;
    const std::string& table;
    const TCaGlideQry& query;
    std::int32_t subjectKind;       // 0: accounts of every kind
    TOrder_itemMng* order;          // nothing: by date, then number
    TBaseInfoManage& counterparts;  // for the counterpart names of shown rows
};

// Replaces `rows` with the journal under the source's conditions (see
// JournalLoad.cpp for what a load holds). The row objects `rows` held before
// are refilled rather than made again.
void loadJournal(const JournalSource& source, std::vector<std::unique_ptr<TCaGlide>>& rows);

}  // namespace ledgerhost
