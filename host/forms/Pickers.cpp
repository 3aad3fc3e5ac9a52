#include "Pickers.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QInputMethod>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "Glide.h"
#include "GlideParts.h"
#include "Guard.h"
#include "Records.h"

namespace ledgerhost {

std::vector<seams::PickResult> pickerItems(const std::string& kind) {
    std::vector<seams::PickResult> out;
    if (kind == "Summary") {
        Stmt s = currentDb().prepare("SELECT code, text FROM summaries ORDER BY code");
        while (s.step()) out.push_back({s.text(0), s.text(0), s.text(1)});
        return out;
    }
    std::string baseKind = kind == "Department" ? kDepartment
                           : kind == "currents" ? kCurrents
                                                : kind;
    TBaseInfoManage m(baseKind);
    for (int i = 0; i < m.GetBaseInfoCount(); ++i) {
        TBaseInfoItem* it = m.GetBaseInfo(i);
        out.push_back({it->InCode, it->Code, it->Name});
    }
    return out;
}

bool opensPicker(const QKeyEvent& k) {
    const auto mods = k.modifiers() & ~Qt::KeypadModifier;
    if (k.key() == Qt::Key_F4 && mods == Qt::NoModifier) return true;
    if (k.key() == Qt::Key_Down && mods == Qt::AltModifier) return true;
    return (k.key() == Qt::Key_Return || k.key() == Qt::Key_Enter) && mods == Qt::NoModifier;
}

QString pickerFieldHelp() {
    return QStringLiteral("双击、F4、Alt+↓ 或 Enter 打开选择列表；Backspace 清除");
}

QString pickerTitle(const std::string& kind) {
    if (kind == kPayMode) return QStringLiteral("选择结算方式");
    if (kind == kCurrents || kind == "currents") return QStringLiteral("选择对方单位");
    if (kind == kDepartment || kind == "Department") return QStringLiteral("选择部门");
    if (kind == "Summary") return QStringLiteral("选择摘要");
    return QStringLiteral("选择");
}

namespace {

// Up, Down, Page Up and Page Down typed in the search box move the list's
// current row over the rows the filter leaves, so the hand stays on the keys.
class PickerKeys final : public QObject {
  public:
    PickerKeys(QTreeWidget* tree, QObject* parent) : QObject(parent), tree_(tree) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
        auto* k = static_cast<QKeyEvent*>(event);
        switch (k->key()) {
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_PageUp:
            case Qt::Key_PageDown: {
                QKeyEvent copy(QEvent::KeyPress, k->key(), k->modifiers());
                QCoreApplication::sendEvent(tree_, &copy);
                return true;
            }
            default:
                return QObject::eventFilter(watched, event);
        }
    }

  private:
    QTreeWidget* tree_;
};

// The current row, or the first row the filter shows when the current one
// is hidden or there is none.
void keepVisibleCurrent(QTreeWidget* tree) {
    QTreeWidgetItem* cur = tree->currentItem();
    if (cur && !cur->isHidden()) return;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        if (!tree->topLevelItem(i)->isHidden()) {
            tree->setCurrentItem(tree->topLevelItem(i));
            return;
        }
    }
    tree->setCurrentItem(nullptr);
}

}  // namespace

std::optional<seams::PickResult> runPicker(QWidget* owner, const seams::PickRequest& request) {
    auto items = pickerItems(request.kind);
    TfrmAccBase dlg(owner);
    dlg.setObjectName(QStringLiteral("dlgPicker"));
    dlg.setWindowTitle(pickerTitle(request.kind));
    dlg.resize(360, 420);
    auto* lay = new QVBoxLayout(&dlg);
    auto* search = new QLineEdit(&dlg);
    search->setObjectName(QStringLiteral("edtSearch"));
    search->setPlaceholderText(QStringLiteral("按编码或名称查找"));
    search->setToolTip(QStringLiteral("输入编码或名称查找；↑↓ 移动，Enter 选定当前行，Esc 取消"));
    auto* tree = new QTreeWidget(&dlg);
    tree->setObjectName(QStringLiteral("lstItems"));
    tree->setHeaderLabels({QStringLiteral("编码"), QStringLiteral("名称")});
    tree->setRootIsDecorated(false);
    for (std::size_t i = 0; i < items.size(); ++i) {
        auto* row = new QTreeWidgetItem(
            tree, {QString::fromStdString(items[i].code), QString::fromStdString(items[i].name)});
        row->setData(0, Qt::UserRole, static_cast<int>(i));
        if (!request.initialCode.empty() &&
            (items[i].code == request.initialCode || items[i].inCode == request.initialCode))
            tree->setCurrentItem(row);
    }
    keepVisibleCurrent(tree);
    tree->resizeColumnToContents(0);
    auto* buttons = new QDialogButtonBox(&dlg);
    QPushButton* ok = buttons->addButton(QStringLiteral("确定(&O)"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("取消(&C)"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    lay->addWidget(search);
    lay->addWidget(tree);
    lay->addWidget(buttons);
    search->installEventFilter(new PickerKeys(tree, &dlg));
    QObject::connect(search, &QLineEdit::textChanged, &dlg, [&dlg, tree](const QString& t) {
        guarded(&dlg, "查找", [&] {
            for (int i = 0; i < tree->topLevelItemCount(); ++i) {
                auto* it = tree->topLevelItem(i);
                it->setHidden(!t.isEmpty() && !it->text(0).contains(t, Qt::CaseInsensitive) &&
                              !it->text(1).contains(t, Qt::CaseInsensitive));
            }
            keepVisibleCurrent(tree);
        });
    });
    // Enter in the search box or on a row chooses the current row.
    QObject::connect(search, &QLineEdit::returnPressed, &dlg, [&dlg] { dlg.done(mrOk); });
    QObject::connect(tree, &QTreeWidget::activated, &dlg, [&dlg] { dlg.done(mrOk); });
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, [&dlg] { dlg.done(mrOk); });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, [&dlg] { dlg.done(mrCancel); });
    QObject::connect(tree, &QTreeWidget::itemDoubleClicked, &dlg, [&dlg] { dlg.done(mrOk); });
    search->setFocus();
    if (ShowModal(dlg) != mrOk || !tree->currentItem() || tree->currentItem()->isHidden())
        return std::nullopt;
    return items[tree->currentItem()->data(0, Qt::UserRole).toInt()];
}

TBaseInfoItem* TdlgTree::GetCode(const std::string& kind, const std::string& initialCode,
                                 const std::string&, bool, bool, bool) {
    auto r = seams::pickHook()(commandOwner(), {kind, initialCode});
    if (!r || !BasisManageFactory) return nullptr;
    return BasisManageFactory->GetBaseInfoManage(kind)->GetOfInCode(r->inCode);
}

void SelectAccid(const std::string& kind, std::string& code, std::string& name, int) {
    auto r = seams::pickHook()(commandOwner(), {kind, code});
    if (!r) {
        name.clear();
        return;
    }
    code = r->inCode;
    name = r->name;
}

void ClearImeName(QWidget* form) {
    if (!form) return;
    for (QWidget* w : form->findChildren<QWidget*>()) w->setInputMethodHints(Qt::ImhNone);
}

TfrmVoucherView::TfrmVoucherView(QWidget* owner, const std::string& setCode,
                                 const std::string& voucherId)
    : TfrmAccBase(owner) {
    setObjectName(QStringLiteral("frmVoucherView"));
    setWindowTitle(QStringLiteral("查看凭证"));
    resize(640, 320);
    auto* lay = new QVBoxLayout(this);
    lblHeader = new QLabel(this);
    grdLines = new QTableWidget(0, 4, this);
    grdLines->setHorizontalHeaderLabels({QStringLiteral("摘要"), QStringLiteral("科目"),
                                         QStringLiteral("借方金额"), QStringLiteral("贷方金额")});
    grdLines->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdLines->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("关闭(&C)"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, [this] { done(mrCancel); });
    lay->addWidget(lblHeader);
    lay->addWidget(grdLines);
    lay->addWidget(buttons);

    Database& db = currentDb();
    Stmt h = db.prepare(
        "SELECT v.vdate, v.voucher_no, COALESCE(t.name, ''), COALESCE(u.name, v.maker) "
        "FROM vouchers v "
        "LEFT JOIN voucher_types t ON t.set_code = v.set_code AND t.id = v.voucher_class "
        "LEFT JOIN users u ON u.code = v.maker "
        "WHERE v.set_code = ? AND v.id = ?");
    h.bind(1, setCode).bind(2, voucherId);
    if (!h.step()) {
        lblHeader->setText(
            QStringLiteral("账套 %1 中没有编号为 %2 的凭证。")
                .arg(QString::fromStdString(setCode), QString::fromStdString(voucherId)));
        grdLines->hide();
        return;
    }
    found_ = true;
    lblHeader->setText(
        QStringLiteral("凭证类别：%1    凭证号：%2    日期：%3    制单人：%4")
            .arg(QString::fromStdString(h.text(2)))
            .arg(h.i64(1))
            .arg(QString::fromStdString(h.text(0)), QString::fromStdString(h.text(3))));
    Stmt l = db.prepare(
        "SELECT summary, subject_code, deb_cents, cre_cents FROM voucher_lines WHERE voucher_id = "
        "? "
        "ORDER BY line_no");
    l.bind(1, voucherId);
    auto money = [](std::int64_t c) {
        return c == 0 ? QString() : QLocale(QLocale::English).toString(fromCents(c), 'f', 2);
    };
    while (l.step()) {
        int r = grdLines->rowCount();
        grdLines->insertRow(r);
        grdLines->setItem(r, 0, new QTableWidgetItem(QString::fromStdString(l.text(0))));
        grdLines->setItem(r, 1, new QTableWidgetItem(QString::fromStdString(l.text(1))));
        for (int c = 2; c < 4; ++c) {
            auto* it = new QTableWidgetItem(money(l.i64(c)));
            it->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            grdLines->setItem(r, c, it);
        }
    }
}

}  // namespace ledgerhost
