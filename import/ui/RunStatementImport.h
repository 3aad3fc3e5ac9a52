#pragma once

// The journal window's run of a statement import: the headless import
// (importStatement) with its questions and its result in message boxes.

#include <functional>
#include <string>

#include "untGlideImport.h"

class QWidget;

struct StatementImportOptions {
    // Import a content already in the import log without asking.
    bool again = false;
    // Ask in a message box (default answer "否") when the content is in the
    // import log; without it such a file is refused.
    bool askAgain = true;
    // Called once the import has ended, before any message (closes the
    // progress dialog).
    std::function<void()> finished;
};

// importStatement, asking about a re-import in a message box owned by `owner`,
// then the result's message in a message box; pending window messages are
// processed every few rows meanwhile. Answers whether the rows were stored.
bool runStatementImport(StatementKind kind, const std::string& fileName,
                        ledgerhost::TCaGlideMng* mng, QWidget* owner, ImportProgress progress = {},
                        const StatementImportOptions& options = {});
