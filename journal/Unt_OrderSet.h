#pragma once

#include <QDialog>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <memory>

#include "Glide.h"

namespace Ui {
class Frm_OrderSet;
}

// Puts the journal's sort keys in a new order, one move at a time; OK has the
// order-item manager store it. Line k of the list always stands for item k of
// the manager: every move exchanges the same two positions in both.
class TFrm_OrderSet : public QDialog {
    Q_OBJECT
  public:
    explicit TFrm_OrderSet(QWidget* owner = nullptr);
    ~TFrm_OrderSet() override;

    ledgerhost::TOrder_itemMng* OrderMng = nullptr;  // not owned

    QListWidget* lstbItem;
    QToolButton* btnUp;
    QToolButton* btnDown;
    QPushButton* btnOk;
    QPushButton* btnCancel;

  public slots:
    void FormShow();
    void btnUpClick();
    void btnDownClick();
    void btnOkClick();
    void btnCancelClick();

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    void exchange(int a, int b);
    std::unique_ptr<Ui::Frm_OrderSet> ui_;
};
