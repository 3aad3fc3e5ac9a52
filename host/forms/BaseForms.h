#pragma once

// The host's base forms: the report window TfrmBaseAssRpt (tool bar, detail
// panel with the grid, printing and export) and the dialog TfrmAccBase.

#include <QDialog>
#include <QFrame>
#include <QToolButton>
#include <memory>
#include <utility>
#include <vector>

#include "LhApi.h"

class QPrinter;
class QVBoxLayout;

namespace ledgerhost {

class TCell;

// A tool bar whose buttons stand side by side from the left at fixed widths,
// as the report forms lay them out.
class LH_API TToolBar : public QFrame {
    Q_OBJECT
  public:
    explicit TToolBar(QWidget* parent = nullptr);
    QToolButton* addButton(const QString& name, const QString& caption, int imageIndex,
                           int width = 55);
    QWidget* addSeparator(const QString& name, int width = 8);

    // The "»" button at the right end that offers, when the bar is too
    // narrow, the buttons that do not fit; hidden while every button fits.
    QToolButton* overflowButton() const { return more_; }

  protected:
    // Hidden buttons take no room: the visible ones close up from the left.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void place(QWidget* w, int width);
    void relayout();
    std::vector<std::pair<QWidget*, int>> items_;
    QToolButton* more_ = nullptr;
};

// The icon of an image index of the host's tool-bar image list.
LH_API QIcon toolIcon(int imageIndex);

class LH_API TfrmBaseAssRpt : public QWidget {
    Q_OBJECT
  public:
    explicit TfrmBaseAssRpt(QWidget* owner);
    ~TfrmBaseAssRpt() override;

    TToolBar* tlbAssSumRpt;
    QToolButton* tbtnClose;
    QWidget* ToolButton5;
    QToolButton* tbtnSet;
    QToolButton* tbtnPrivew;
    QToolButton* tbtnPrint;
    QToolButton* tbtnPageSetup;
    QToolButton* tbtnPrintSetup;
    QWidget* ToolButton3;
    QToolButton* tbtnExport;
    QFrame* pnlDetail;
    TCell* Cell;

    virtual QString GetFormKey() { return QStringLiteral("BaseAssRpt"); }
    // Makes the sheet readable: column widths from the content, the title row
    // large and centred across the sheet, the heading rows centred.
    virtual void BuildFormat();
    virtual void ReportHook() {}
    // The file name the export suggests, in the user's documents folder.
    virtual QString ExportFileName();

    QPrinter& printer();

  public slots:
    void tbtnCloseClick();
    void tbtnPrivewClick();
    void tbtnPrintClick();
    void tbtnPageSetupClick();
    void tbtnPrintSetupClick();
    void tbtnExportClick();

  protected:
    // Puts a panel between the tool bar and the detail panel.
    void insertPanel(QWidget* panel);
    // Tells the host this is the window the user works in when it becomes
    // active, so that its commands' message boxes belong to it.
    bool event(QEvent* event) override;

  private:
    QVBoxLayout* layout_;
    std::unique_ptr<QPrinter> printer_;
};

class LH_API TfrmAccBase : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmAccBase(QWidget* owner);
    // When true, Enter in an edit or list moves on to the next control, as it
    // does in the host's entry forms.
    bool EnterAsTab = false;

    void reject() override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace ledgerhost
