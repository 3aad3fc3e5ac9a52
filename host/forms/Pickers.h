#pragma once

// The host's pickers, the voucher viewer and the small cashier routines that
// work on forms.

#include <QStringList>
#include <optional>
#include <string>

#include "BaseForms.h"
#include "LhApi.h"
#include "Seams.h"
#include "Store.h"

class QKeyEvent;
class QLabel;
class QTableWidget;

namespace ledgerhost {

struct TBaseInfoItem;

// The items a picker of that kind offers, as code, name and inner code.
LH_API std::vector<seams::PickResult> pickerItems(const std::string& kind);
// Keys that open a picker field's picker as a double-click does: F4,
// Alt+Down, Enter.
LH_API bool opensPicker(const QKeyEvent& key);
// What a picker field tells the user about opening its picker.
LH_API QString pickerFieldHelp();

// The caption of a picker of that kind ("选择结算方式", "选择对方单位", ...).
LH_API QString pickerTitle(const std::string& kind);
// The default picker: a modal list with a search box.
LH_API std::optional<seams::PickResult> runPicker(QWidget* owner,
                                                  const seams::PickRequest& request);

// The tree picker of base information ("PAY_MODE", "CURRENTS", "DEPARTMENT").
class LH_API TdlgTree {
  public:
    // The chosen item (owned by BasisManageFactory), or nothing when cancelled.
    static TBaseInfoItem* GetCode(const std::string& kind, const std::string& initialCode,
                                  const std::string& text, bool a, bool b, bool c);
};

// The account-element picker ("Department", "currents", "Summary"): answers the
// chosen code and name; the name comes back empty when cancelled.
LH_API void SelectAccid(const std::string& kind, std::string& code, std::string& name, int flag);

// Clears the input-method names that a form's edit controls carry.
LH_API void ClearImeName(QWidget* form);

// A read-only view of one voucher: type, number, date and lines.
class LH_API TfrmVoucherView : public TfrmAccBase {
    Q_OBJECT
  public:
    TfrmVoucherView(QWidget* owner, const std::string& setCode, const std::string& voucherId);
    bool found() const { return found_; }
    QLabel* lblHeader;
    QTableWidget* grdLines;

  private:
    bool found_ = false;
};

}  // namespace ledgerhost
