#pragma once

// The one way a user-reachable handler runs: every slot connected to a
// signal, every event handler and every callback the host or a plug-in hands
// to the form toolkit runs its body through `guarded`, which catches whatever
// the body throws and reports it with the host's error message
// (CmmObj.MsgError). Qt treats an exception that leaves a slot or an event
// handler as undefined behaviour, so nothing may get that far; the host
// application's QApplication::notify override is only a last resort.
//
//   connect(btnOk, &QPushButton::clicked, this, guardedSlot(this, "保存", &TFrm::btnOkClick));
//   void TFrm::showEvent(QShowEvent* e) { Base::showEvent(e); guarded(this, "显示", [&] { ... }); }

#include <exception>
#include <utility>

#include "LhApi.h"

class QWidget;

namespace ledgerhost {

// Shows "<what>失败：<reason>" with CmmObj.MsgError (a plain error box when
// no host objects are bound) and writes it to the log. Never throws.
LH_API void reportHandlerFailure(QWidget* owner, const char* what, const char* reason) noexcept;

// Runs `body`; true when it returned normally, false after a failure has
// been reported.
template <class Fn>
bool guarded(QWidget* owner, const char* what, Fn&& body) noexcept {
    try {
        std::forward<Fn>(body)();
        return true;
    } catch (const std::exception& e) {
        reportHandlerFailure(owner, what, e.what());
    } catch (...) {
        reportHandlerFailure(owner, what, nullptr);
    }
    return false;
}

// A functor to connect in place of a member slot: calls `slot` on `object`
// under `guarded`, passing on the signal's arguments.
template <class Obj, class Cls, class R, class... Args>
auto guardedSlot(Obj* object, const char* what, R (Cls::*slot)(Args...)) {
    return [object, what, slot](Args... args) {
        guarded(object, what, [&] { (object->*slot)(std::forward<Args>(args)...); });
    };
}

}  // namespace ledgerhost
