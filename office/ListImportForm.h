#pragma once

// Fills a list of 系统管理 (the accounts of a book set, or one kind of base
// information) from a workbook or comma-separated file: the file's columns
// are read, mapped onto the list's fields (a field takes the column of its
// own caption at first), and the whole file is imported or nothing
// (ListImport.h); a bad row is named.

#include <QDialog>
#include <memory>
#include <string>

#include "ListImport.h"

namespace Ui {
class FrmListImport;
}

namespace office {

class TFrmListImport final : public QDialog {
    Q_OBJECT
  public:
    TFrmListImport(QWidget* owner, ledgerhost::Database& db, const std::string& actor,
                   const std::string& kind, const std::string& setCode);
    ~TFrmListImport() override;
    void accept() override;

    std::unique_ptr<Ui::FrmListImport> ui;
    ledgerhost::TListConvert convert;

  public slots:
    void Browse();
    void ReadColumns();

  protected:
    // On the mapping, F4 or Alt+Down opens the current field's list of file
    // columns; Enter imports.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void showMapping();
};

}  // namespace office
