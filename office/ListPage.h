#pragma once

// One list of the office windows (a page of 系统管理, the accounts of
// 出纳初始化): a read-only table whose rows the search box filters as one
// types, worked by the keys of the journal window: Enter (or a double click)
// edits the current row, Insert or Ctrl+N adds one, Delete deletes it (or
// stops or closes it); Down in the search box goes to the list, and typing
// on the list goes on in the search box.

#include <QObject>
#include <QString>
#include <QStringList>
#include <vector>

class QLineEdit;
class QTableWidget;

namespace office {

class ListPage : public QObject {
    Q_OBJECT
  public:
    // `search` may be null: a short list without a search box.
    ListPage(QTableWidget* table, QLineEdit* search, const QStringList& headers);

    // Fills the table; each row's first column keeps its key. The row with
    // the key `current` (else the first) becomes current.
    void setRows(const std::vector<QStringList>& rows, const QStringList& keys,
                 const QString& current = {});
    // The key of the current row; empty when no visible row is current.
    QString currentKey() const;
    QTableWidget* table() const { return table_; }

  signals:
    void addRequested();
    void editRequested();
    void deleteRequested();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void filter();
    QTableWidget* table_;
    QLineEdit* search_;
};

// "code name" of an item, as lists and pickers show it.
QString codeAndName(const std::string& code, const std::string& name);

}  // namespace office
