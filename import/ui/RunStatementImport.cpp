#include "RunStatementImport.h"

#include "Seams.h"

using namespace ledgerhost;

bool runStatementImport(StatementKind kind, const std::string& fileName, TCaGlideMng* mng,
                        QWidget* owner, ImportProgress progress,
                        const StatementImportOptions& options) {
    // The person is asked in the window, "否" being the default answer.
    ConfirmReimport confirm;
    if (options.askAgain)
        confirm = [owner](const ImportLogEntry& earlier) {
            return MessageBoxA(owner,
                               "这个文件的内容已经导入过：" + describeImport(earlier) +
                                   "。\n再次导入会重复记账。是否仍要再次导入？",
                               "提示", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
        };
    // Pending window messages every few rows: handling them for every row of
    // a long statement cost more than reading the rows.
    ImportProgress withMessages = [progress = std::move(progress)](int done, int total) {
        if (progress && !progress(done, total)) return false;
        if (done % 32 == 0) ProcessMessages();
        return true;
    };
    const StatementImportResult result =
        importStatement(kind, fileName, mng, std::move(withMessages), options.again, confirm);
    if (options.finished) options.finished();
    if (!result.message.empty()) MessageBoxA(owner, result.message, "提示", MB_ICONINFORMATION);
    return result.stored;
}
