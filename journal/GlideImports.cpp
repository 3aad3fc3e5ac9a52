// The journal window's import menu.
#include <QFileInfo>
#include <QProgressDialog>
#include <algorithm>

#include "RunStatementImport.h"
#include "Seams.h"
#include "Unt_CashGlideForm.h"
#include "untGlideImport.h"

using namespace ledgerhost;

namespace {

// A modal progress dialog for a statement import: the window repaints while the
// rows are read, but takes no second command until the import has finished.
// Cancel stops the import; nothing of it is stored then.
class ImportProgressDialog {
  public:
    ImportProgressDialog(QWidget* owner, const QString& file)
        : file_(QStringLiteral("正在导入 %1 …").arg(QFileInfo(file).fileName())), dialog_(owner) {
        dialog_.setWindowTitle(QStringLiteral("导入"));
        dialog_.setLabelText(file_);
        dialog_.setCancelButtonText(QStringLiteral("取消"));
        dialog_.setWindowModality(Qt::ApplicationModal);
        dialog_.setMinimumDuration(300);
        dialog_.setAutoClose(false);
        dialog_.setAutoReset(false);
    }
    // Closes the dialog for good; the messages that follow stand alone.
    void close() {
        dialog_.reset();
        dialog_.hide();
    }
    ImportProgress callback() {
        // Redrawn about every half per cent: a modal progress dialog handles
        // pending events on every change, which would cost more than the rows.
        return [this](int done, int total) {
            const int step = std::max(1, total / 200);
            if (done % step == 0 || done + 1 == total) {
                if (dialog_.maximum() != total) dialog_.setMaximum(total);
                dialog_.setValue(done);
                dialog_.setLabelText(file_ + QStringLiteral("\n%1 / %2 行").arg(done).arg(total));
            }
            return !dialog_.wasCanceled();
        };
    }

  private:
    QString file_;
    QProgressDialog dialog_;
};

void runImport(TFrmCashGlide& w, StatementKind kind) {
    const bool icbc = kind == StatementKind::ICBC;
    w.odlgImport.Filter = icbc ? QStringLiteral("工行对账单文件(*.txt)|*.txt")
                               : QStringLiteral("建行对账单文件(*.xls)|*.xls");
    w.odlgImport.FilterIndex = 0;
    w.odlgImport.DefaultExt = icbc ? QStringLiteral(".txt") : QStringLiteral(".xls");
    if (!w.odlgImport.Execute(&w)) {
        glideimport::resetAccountManager();
        return;
    }
    ImportProgressDialog progress(&w, w.odlgImport.FileName);
    StatementImportOptions options;
    // The progress dialog goes before the completion or error message.
    options.finished = [&progress] { progress.close(); };
    runStatementImport(kind, w.odlgImport.FileName.toStdString(), w.CaGlideMng(), &w,
                       progress.callback(), options);
    // Back to the journal window once the messages are answered, with the
    // focus in the grid on the row it was on.
    w.activateWindow();
    w.focusGrid(icbc ? "工行对账单导入" : "建行对账单导入");
}

}  // namespace

void TFrmCashGlide::mniICBCClick() {
    runImport(*this, StatementKind::ICBC);
}
void TFrmCashGlide::mniCCBClick() {
    runImport(*this, StatementKind::CCB);
}
