#include "Seams.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

#include "Pickers.h"

namespace ledgerhost {
namespace {

QPointer<QWidget>& appWindow() {
    static QPointer<QWidget> w;
    return w;
}

int defaultMessage(QWidget* owner, const seams::Message& m) {
    QMessageBox box(owner ? owner : applicationWindow());
    box.setWindowTitle(QString::fromStdString(m.caption.empty() ? "提示" : m.caption));
    box.setText(QString::fromStdString(m.text));
    unsigned icon = m.flags & 0xF0;
    box.setIcon(icon == MB_ICONERROR         ? QMessageBox::Critical
                : icon == MB_ICONQUESTION    ? QMessageBox::Question
                : icon == MB_ICONWARNING     ? QMessageBox::Warning
                : icon == MB_ICONINFORMATION ? QMessageBox::Information
                                             : QMessageBox::NoIcon);
    if ((m.flags & 0xF) == MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.button(QMessageBox::Yes)->setText(QStringLiteral("是(&Y)"));
        box.button(QMessageBox::No)->setText(QStringLiteral("否(&N)"));
        box.setDefaultButton((m.flags & MB_DEFBUTTON2) ? QMessageBox::No : QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.exec();
    return IDOK;
}

// "Excel文件(*.xls)|*.xls" -> "Excel文件(*.xls) (*.xls)" for Qt.
QString qtFilter(const QString& windowsFilter) {
    QStringList parts = windowsFilter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i] + " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
    return out.join(";;");
}

std::optional<QString> defaultFile(QWidget* owner, const seams::FileRequest& r) {
    QFileDialog dlg(owner, r.title.isEmpty() ? QStringLiteral("打开") : r.title, r.initialDir,
                    qtFilter(r.filter));
    dlg.setFileMode(r.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dlg.setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dlg.setDefaultSuffix(QString(r.defaultExt).remove(0, r.defaultExt.startsWith('.') ? 1 : 0));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
    return dlg.selectedFiles().front();
}

}  // namespace

namespace seams {

ModalHook& modalHook() {
    static ModalHook h = [](QDialog& d) { return d.exec(); };
    return h;
}

MessageHook& messageHook() {
    static MessageHook h = defaultMessage;
    return h;
}

FileHook& fileHook() {
    static FileHook h = defaultFile;
    return h;
}

ProcessHook& processHook() {
    static ProcessHook h = [] { QCoreApplication::processEvents(); };
    return h;
}

PickHook& pickHook() {
    static PickHook h = runPicker;
    return h;
}

}  // namespace seams

int ShowModal(QDialog& dialog) {
    return seams::modalHook()(dialog);
}

int MessageBoxA(QWidget* owner, const std::string& text, const std::string& caption,
                unsigned flags) {
    return seams::messageHook()(owner, {seams::MsgKind::MessageBox, text, caption, flags});
}

void ProcessMessages() {
    seams::processHook()();
}

std::optional<QString> OpenFileDialog(QWidget* owner, const seams::FileRequest& request) {
    return seams::fileHook()(owner, request);
}

QWidget* applicationWindow() {
    return appWindow().data();
}
void setApplicationWindow(QWidget* window) {
    appWindow() = window;
}

}  // namespace ledgerhost
