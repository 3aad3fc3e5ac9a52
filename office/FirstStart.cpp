#include "FirstStart.h"

#include "Guard.h"
#include "Seams.h"
#include "Store.h"
#include "ui_FrmFirstStart.h"

using namespace ledgerhost;

namespace office {

TFrmFirstStart::TFrmFirstStart(QWidget* owner, std::string location, int year)
    : QDialog(owner), ui(std::make_unique<Ui::FrmFirstStart>()), location_(std::move(location)) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    ui->lblIntro->setWordWrap(true);
    ui->lblIntro->setText(
        QStringLiteral("数据库 %1 还没有建立。请新建本单位的账套，或打开演示账套先试一试。")
            .arg(QString::fromStdString(Database::displayLocation(location_))));
    ui->spnYear->setValue(year);
    ui->edtBookCode->setText(QStringLiteral("001"));
    ui->edtAdminCode->setText(QStringLiteral("admin"));
    ui->edtAdminName->setText(QStringLiteral("系统管理员"));
    connect(ui->rbNew, &QRadioButton::toggled, ui->grpNew, &QWidget::setEnabled);
    ui->edtBookName->setFocus();
}

TFrmFirstStart::~TFrmFirstStart() = default;

void TFrmFirstStart::accept() {
    guarded(this, "建立账套", [&] {
        demo = ui->rbDemo->isChecked();
        if (demo) {
            QDialog::accept();
            return;
        }
        book.Code = ui->edtBookCode->text().trimmed().toStdString();
        book.Name = ui->edtBookName->text().trimmed().toStdString();
        book.Year = ui->spnYear->value();
        book.StartMonth = ui->spnStartMonth->value();
        adminCode = ui->edtAdminCode->text().trimmed().toStdString();
        adminName = ui->edtAdminName->text().trimmed().toStdString();
        const std::string password = ui->edtAdminPassword->text().toStdString();
        if (ui->edtAdminPassword2->text() != ui->edtAdminPassword->text()) {
            MessageBoxA(this, "两次输入的管理员密码不一致，请重新输入。", "新建账套",
                        MB_OK | MB_ICONWARNING);
            ui->edtAdminPassword2->setFocus(Qt::OtherFocusReason);
            return;
        }
        try {
            // Whole or not at all; a refused entry leaves no file behind.
            if (!createDatabaseFile(location_, [&](Database& db) {
                    fillNewStore(db, adminCode, adminName, password, book);
                }))
                throw StoreError("数据库 " + Database::displayLocation(location_) +
                                 " 已由其他程序建立，没有新建账套。");
        } catch (const UserError& e) {
            MessageBoxA(this, e.what(), "新建账套", MB_OK | MB_ICONWARNING);
            return;
        }
        QDialog::accept();
    });
}

}  // namespace office
