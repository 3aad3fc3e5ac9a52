#pragma once

#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <memory>

#include "Convert.h"
#include "Seams.h"

namespace Ui {
class FrmImportWizard;
}

// The two-page import wizard ("数据导入向导"): page 1 chooses the file, page 2
// shows which file column feeds each record field and lets the user change
// that; "完成" runs the import. Reading the file, the mapping itself and the
// import are the converter's work; the wizard hands it the file name, edits
// its mapping entries and starts the import. Row k of the mapping list always
// stands for entry k of the converter's ColumnMaps.
class TfrmImportWizard : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmImportWizard(QWidget* owner = nullptr);
    ~TfrmImportWizard() override;

    // The hint shown above each page.
    static const char* const WizardHints[2];

    ledgerhost::TManageConvert* Convert = nullptr;  // not owned

    QPlainTextEdit* mmoWizard;
    QGroupBox* grpbWizard;
    QTabWidget* pgcWizard;
    QWidget* TabSheet4;
    QWidget* TabSheet5;
    QLineEdit* edtFile;
    QPushButton* btnLoad;
    QTreeWidget* lstvMaping;
    QPushButton* btnMaping;
    QPushButton* btnClear;
    QPushButton* btnPrev;
    QPushButton* btnNext;
    QPushButton* btnClose;
    ledgerhost::seams::FileRequest odlgImport;

    void ShowPage(int index);
    // False (after saying why) when the current page does not let the user on.
    bool CheckPage();
    void RefreshMapingList();

  public slots:
    void FormCreate();
    void btnLoadClick();
    void btnPrevClick();
    void btnNextClick();
    void btnCloseClick();
    void btnMapingClick();
    void btnClearClick();

  protected:
    // The close box and Esc close with Cancel.
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The path typed or chosen, without surrounding blanks and control characters.
    std::string fileName() const;
    QTreeWidgetItem* selectedRow() const;

    std::unique_ptr<Ui::FrmImportWizard> ui_;
};
