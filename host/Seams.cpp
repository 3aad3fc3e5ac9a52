#include "Seams.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <algorithm>
#include <vector>

#include "Pickers.h"

namespace ledgerhost {
namespace {

QPointer<QWidget>& appWindow() {
    static QPointer<QWidget> w;
    return w;
}

// Forms being shown through ShowModal, innermost last.
std::vector<QPointer<QDialog>>& modalStack() {
    static std::vector<QPointer<QDialog>> s;
    return s;
}

// Journal and report windows, the one activated last at the end.
std::vector<QPointer<QWidget>>& commandWindows() {
    static std::vector<QPointer<QWidget>> w;
    return w;
}

// Keeps a form on the modal stack while it is shown and, when it has no
// owner, lends it the command's window for that time, so that it opens
// centred on that window and stays above it.
class ModalScope {
  public:
    explicit ModalScope(QDialog& dialog) : dialog_(&dialog) {
        if (!dialog.parentWidget()) {
            QWidget* owner = commandOwner();
            if (owner && owner != &dialog && !owner->isAncestorOf(&dialog) &&
                !dialog.isAncestorOf(owner)) {
                const Qt::WindowFlags flags = dialog.windowFlags();
                dialog.setParent(owner, flags | Qt::Dialog);
                lent_ = true;
            }
        }
        modalStack().push_back(&dialog);
    }
    ~ModalScope() {
        auto& s = modalStack();
        for (auto it = s.end(); it != s.begin();) {
            --it;
            if (*it == dialog_ || it->isNull()) {
                s.erase(it);
                break;
            }
        }
        // The form goes back to having no owner: whoever made it frees it.
        if (lent_ && dialog_) dialog_->setParent(nullptr, dialog_->windowFlags());
    }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

  private:
    QPointer<QDialog> dialog_;
    bool lent_ = false;
};

int defaultMessage(QWidget* owner, const seams::Message& m) {
    QMessageBox box(owner ? owner : commandOwner());
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
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.exec();
    return IDOK;
}

}  // namespace

// "Excel文件(*.xls)|*.xls" -> "Excel文件(*.xls)" for Qt: a caption that
// already ends with its pattern in brackets is not given it a second time;
// "文本文件|*.txt;*.csv" -> "文本文件 (*.txt *.csv)".
QString qtFileFilter(const QString& windowsFilter) {
    QStringList parts = windowsFilter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString& caption = parts[i];
        const QString pattern = QString(parts[i + 1]).replace(';', ' ').simplified();
        const QString written = QString(parts[i + 1]).simplified();
        if (caption.endsWith('(' + written + ')') || caption.endsWith('(' + pattern + ')') ||
            caption.endsWith(QStringLiteral("（") + written + QStringLiteral("）")))
            out << caption.left(caption.size() - written.size() - 2) + '(' + pattern + ')';
        else
            out << caption + " (" + pattern + ")";
    }
    return out.join(";;");
}

namespace {

std::optional<QString> defaultFile(QWidget* owner, const seams::FileRequest& r) {
    QFileDialog dlg(owner, r.title.isEmpty() ? QStringLiteral("打开") : r.title, r.initialDir,
                    qtFileFilter(r.filter));
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
    ModalScope scope(dialog);
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

QWidget* commandOwner() {
    auto& stack = modalStack();
    while (!stack.empty() && stack.back().isNull()) stack.pop_back();
    if (!stack.empty()) return stack.back().data();
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    QWidget* active = QApplication::activeWindow();
    auto& windows = commandWindows();
    windows.erase(std::remove_if(windows.begin(), windows.end(),
                                 [](const QPointer<QWidget>& w) { return w.isNull(); }),
                  windows.end());
    if (active && active != applicationWindow()) return active;
    if (!windows.empty()) {
        // The last one activated that is on screen; a window never shown
        // (as in tests) still counts when no other is.
        for (auto it = windows.rbegin(); it != windows.rend(); ++it)
            if ((*it)->isVisible()) return it->data();
        return windows.back().data();
    }
    return applicationWindow();
}

void noteCommandWindow(QWidget* window) {
    if (!window) return;
    auto& windows = commandWindows();
    windows.erase(std::remove_if(windows.begin(), windows.end(),
                                 [window](const QPointer<QWidget>& w) {
                                     return w.isNull() || w.data() == window;
                                 }),
                  windows.end());
    windows.emplace_back(window);
}

}  // namespace ledgerhost
