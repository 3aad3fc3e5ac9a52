#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class FrmColumnMaping;
}

// Picks the file column that feeds one record field ("映射字段"). The caller
// sets FileColumns, FieldCaption and the current FileColumn before showing it
// modally; after OK, FileColumn holds the column chosen.
class TfrmColumnMaping : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmColumnMaping(QWidget* owner = nullptr);
    ~TfrmColumnMaping() override;

    const std::vector<std::string>* FileColumns = nullptr;  // not owned
    std::string FieldCaption;
    std::string FileColumn;
    // The position of the column (from 0) among FileColumns; -1 when unknown.
    // In: selects that column (else the first with FileColumn's caption);
    // out: the column chosen, so that same-named columns stay apart.
    int FileColumnIndex = -1;

    QLabel* lblColumn;
    QComboBox* cmbColumn;
    QPushButton* btnOk;
    QPushButton* btnCancel;

  public slots:
    void FormShow();
    void btnOkClick();
    void btnCancelClick();

  protected:
    void showEvent(QShowEvent* e) override;
    // The close box and Esc close with Cancel.
    void reject() override;

  private:
    std::unique_ptr<Ui::FrmColumnMaping> ui_;
};
