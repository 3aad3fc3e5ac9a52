#include "Seams.h"

#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <algorithm>
#include <vector>

#include "Pickers.h"
#include "Store.h"

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
        box.setDefaultButton((m.flags & MB_DEFBUTTON2) ? QMessageBox::No : QMessageBox::Yes);
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

// Icons and type texts from the name alone: a folder or a file, and the
// file's suffix. Nothing is opened or read.
class NameOnlyIconProvider final : public QAbstractFileIconProvider {
  public:
    QIcon icon(IconType type) const override {
        QStyle* style = QApplication::style();
        switch (type) {
            case Computer:
                return style->standardIcon(QStyle::SP_ComputerIcon);
            case Desktop:
                return style->standardIcon(QStyle::SP_DesktopIcon);
            case Trashcan:
                return style->standardIcon(QStyle::SP_TrashIcon);
            case Network:
                return style->standardIcon(QStyle::SP_DriveNetIcon);
            case Drive:
                return style->standardIcon(QStyle::SP_DriveHDIcon);
            case Folder:
                return style->standardIcon(QStyle::SP_DirIcon);
            case File:
                break;
        }
        return style->standardIcon(QStyle::SP_FileIcon);
    }
    QIcon icon(const QFileInfo& info) const override { return icon(info.isDir() ? Folder : File); }
    QString type(const QFileInfo& info) const override {
        if (info.isDir()) return QStringLiteral("文件夹");
        const QString suffix = info.suffix();
        return suffix.isEmpty() ? QStringLiteral("文件")
                                : suffix.toUpper() + QStringLiteral(" 文件");
    }
};

// The model's worker thread asks the provider until the model is gone, after
// a dialog's members: one provider lives as long as the process.
NameOnlyIconProvider* nameOnlyIcons() {
    static auto* icons = new NameOnlyIconProvider;
    return icons;
}

// Refuses the open database's files when the user accepts.
class StoreSafeFileDialog final : public QFileDialog {
  public:
    StoreSafeFileDialog(QWidget* owner, const QString& title, const QString& dir,
                        const QString& filter)
        : QFileDialog(owner, title, dir, filter) {
        setOption(QFileDialog::DontUseNativeDialog);
        setOption(QFileDialog::DontResolveSymlinks);
        setIconProvider(nameOnlyIcons());
    }

    void accept() override {
        try {
            if (enterTypedFolder()) return;
            for (const QString& f : selectedFiles()) {
                if (isStoreFile(f.toStdString())) {
                    MessageBoxA(this, kStoreFileRefused, "提示", MB_OK | MB_ICONWARNING);
                    return;
                }
            }
            QFileDialog::accept();
        } catch (const std::exception& e) {
            MessageBoxA(this, e.what(), "错误", MB_OK | MB_ICONERROR);
        }
    }

  private:
    // A folder's name typed into the file name box enters that folder. Qt
    // itself looks a typed relative name up from the program's working folder
    // rather than from the folder shown, finds no folder there, adds the
    // default suffix and says that "<name>.txt" was not found.
    bool enterTypedFolder() {
        auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!edit) return false;
        QString typed = edit->text().trimmed();
        if (typed.isEmpty() || typed.contains(QLatin1Char('"'))) return false;
        if (typed == QLatin1String("~") || typed.startsWith(QLatin1String("~/")))
            typed.replace(0, 1, QDir::homePath());
        const QFileInfo folder(QDir(directory().absolutePath()), typed);
        if (!folder.isDir()) return false;
        setDirectory(folder.absoluteFilePath());
        edit->clear();
        return true;
    }
};

// Sees every file dialog of the application as it is shown: its model asks
// for icons and types only when a view paints.
class FileDialogGuard final : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            if (auto* dialog = qobject_cast<QFileDialog*>(watched);
                dialog && dialog->iconProvider() != nameOnlyIcons()) {
                dialog->setOption(QFileDialog::DontResolveSymlinks);
                dialog->setIconProvider(nameOnlyIcons());
            }
        }
        return false;
    }
};

// A dialog without a folder of its own opens where the user last chose a
// file, else in the documents folder (where the sample statements are), never
// in whatever folder the program was started from.
std::optional<QString> defaultFile(QWidget* owner, const seams::FileRequest& r) {
    static const QString kLastFolder = QStringLiteral("fileDialog/lastFolder");
    seams::FileRequest request = r;
    if (request.initialDir.isEmpty()) {
        request.initialDir = QSettings().value(kLastFolder).toString();
        if (request.initialDir.isEmpty() || !QFileInfo(request.initialDir).isDir())
            request.initialDir =
                QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    }
    std::unique_ptr<QFileDialog> dlg = makeFileDialog(owner, request);
    if (dlg->exec() != QDialog::Accepted || dlg->selectedFiles().isEmpty()) return std::nullopt;
    const QString chosen = dlg->selectedFiles().front();
    QSettings().setValue(kLastFolder, QFileInfo(chosen).absolutePath());
    return chosen;
}

// The note a window shows while the store waits for another program.
class WaitNote final : public QWidget {
  public:
    explicit WaitNote(QWidget* owner)
        : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
          label_(new QLabel(this)) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(16, 12, 16, 12);
        layout->addWidget(label_);
        setStyleSheet(QStringLiteral("WaitNote, QWidget { background: #fff8dc; }"));
    }
    void showWait(const seams::Wait& w) {
        label_->setText(QStringLiteral("正在等待其他程序写完账套数据库……\n"
                                       "已等待 %1 秒（最多等待 %2 秒，之后本次操作不保存）。")
                            .arg(w.waitedMs / 1000)
                            .arg(w.deadlineMs / 1000));
        adjustSize();
        if (QWidget* p = parentWidget()) move(p->mapToGlobal(p->rect().center()) - rect().center());
        show();
        raise();
    }

  private:
    QLabel* label_;
};

void windowWait(const seams::Wait& w) {
    static QPointer<WaitNote> note;
    static bool cursor = false;
    if (!w.waiting) {
        delete note.data();
        if (cursor) QApplication::restoreOverrideCursor();
        cursor = false;
        return;
    }
    // A short wait passes unnoticed; a longer one is shown and kept painted.
    if (w.waitedMs < 300) return;
    if (!cursor) QApplication::setOverrideCursor(Qt::WaitCursor);
    cursor = true;
    if (!note) note = new WaitNote(applicationWindow());
    note->showWait(w);
    // Only painting and the like: no input reaches the windows, so no command
    // can start while the store is inside one.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
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

void showWaitsInWindows() {
    seams::waitHook() = windowWait;
}

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

std::unique_ptr<QFileDialog> makeFileDialog(QWidget* owner, const seams::FileRequest& r) {
    auto dlg = std::make_unique<StoreSafeFileDialog>(
        owner, r.title.isEmpty() ? QStringLiteral("打开") : r.title, r.initialDir,
        qtFileFilter(r.filter));
    dlg->setFileMode(r.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dlg->setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dlg->setDefaultSuffix(QString(r.defaultExt).remove(0, r.defaultExt.startsWith('.') ? 1 : 0));
    return dlg;
}

void guardFileDialogs() {
    static QPointer<FileDialogGuard> guard;
    if (guard || !QCoreApplication::instance()) return;
    guard = new FileDialogGuard(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(guard);
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
