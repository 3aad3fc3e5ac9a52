#pragma once

// The places where the program waits for a person: modal forms, message
// boxes, the file-open dialog, the pickers and the processing of pending
// window messages. Each is one hook with a default that shows the real thing;
// tests replace a hook for the length of a scope and answer it.

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "LhApi.h"
#include "Waits.h"

#include <memory>

class QDialog;
class QFileDialog;
class QWidget;

namespace ledgerhost {

struct TBaseInfoItem;

// Message box flags and answers (the values of the Windows API they copy).
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONWARNING = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr unsigned MB_DEFBUTTON2 = 0x100;  // the second button ("否") is the default
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Modal results.
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

namespace seams {

enum class MsgKind { MsgBox, AppMsg, MsgError, MessageBox };

struct Message {
    MsgKind kind;
    std::string text;
    std::string caption;
    unsigned flags = 0;
};

struct FileRequest {
    QString title;
    QString filter;  // Windows style: "caption|pattern|caption|pattern"
    int filterIndex = 0;
    QString defaultExt;
    QString initialDir;
    bool save = false;  // a save dialog rather than an open one
};

struct PickRequest {
    std::string kind;  // "PAY_MODE", "CURRENTS", "DEPARTMENT", "Department", "currents", "Summary"
    std::string initialCode;  // item to select at first
};

struct PickResult {
    std::string inCode;
    std::string code;
    std::string name;
};

using ModalHook = std::function<int(QDialog&)>;
using MessageHook = std::function<int(QWidget* owner, const Message&)>;
using FileHook = std::function<std::optional<QString>(QWidget* owner, const FileRequest&)>;
using ProcessHook = std::function<void()>;
using PickHook = std::function<std::optional<PickResult>(QWidget* owner, const PickRequest&)>;

LH_API ModalHook& modalHook();
LH_API MessageHook& messageHook();
LH_API FileHook& fileHook();
LH_API ProcessHook& processHook();
LH_API PickHook& pickHook();

// Puts a hook in place for the life of the object and restores the one before.
template <class Hook>
class Scoped {
  public:
    Scoped(Hook& slot, Hook replacement) : slot_(slot), previous_(std::move(slot)) {
        slot_ = std::move(replacement);
    }
    ~Scoped() { slot_ = std::move(previous_); }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;

  private:
    Hook& slot_;
    Hook previous_;
};

}  // namespace seams

// Shows a form modally; answers its modal result (mrOk, mrCancel, ...).
LH_API int ShowModal(QDialog& dialog);
// A message box with title, text and flags; answers IDOK, IDYES or IDNO.
LH_API int MessageBoxA(QWidget* owner, const std::string& text, const std::string& caption,
                       unsigned flags);
// Lets pending window messages be processed.
LH_API void ProcessMessages();
// The file-open (or, with request.save, file-save) dialog; nothing when cancelled.
LH_API std::optional<QString> OpenFileDialog(QWidget* owner, const seams::FileRequest& request);

// The dialog the default file hook shows: Qt's own dialog, never the
// desktop's, whose icons and type texts come from the file names alone. Qt's
// usual icon provider reads every listed file to guess its type, and a read of
// the database's own files would drop this process's locks on them. Accepting
// one of the open database's files is refused with a message.
LH_API std::unique_ptr<QFileDialog> makeFileDialog(QWidget* owner,
                                                   const seams::FileRequest& request);

// Gives every other file dialog the application shows (those Qt's print
// dialogs open for "print to file", say) the same name-only icons before it
// first paints. Called once the application object exists.
LH_API void guardFileDialogs();

// A file filter "caption|pattern|caption|pattern" as Qt's file dialogs take it,
// each pattern written once.
LH_API QString qtFileFilter(const QString& windowsFilter);

// Makes the store's waits for another program's lock show as a note over the
// application window, with a wait cursor (see Waits.h). Called once by a
// program with windows.
LH_API void showWaitsInWindows();

// The window that owns the plug-in's windows and message boxes.
LH_API QWidget* applicationWindow();
LH_API void setApplicationWindow(QWidget* window);

// The window a command came from, which owns its message boxes, pickers and
// forms: the innermost form shown through ShowModal, else the application's
// active modal dialog, else the journal or report window the user worked in
// last, else the application window. A message box owned by it opens centred
// on it and hands the focus back to it when it closes.
LH_API QWidget* commandOwner();
// Report and journal windows tell the host when they are made and when they
// become active, so that commandOwner() knows the one the user works in.
LH_API void noteCommandWindow(QWidget* window);

}  // namespace ledgerhost
