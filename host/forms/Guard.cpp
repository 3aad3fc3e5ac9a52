#include "Guard.h"

#include <QtGlobal>
#include <string>

#include "CommonObj.h"
#include "Seams.h"

namespace ledgerhost {

void reportHandlerFailure(QWidget* owner, const char* what, const char* reason) noexcept {
    try {
        std::string text = std::string(what ? what : "操作") + "失败：" +
                           (reason && *reason ? reason : "发生未知错误。");
        qWarning("%s", text.c_str());
        if (CmmObj)
            CmmObj->MsgError(text);
        else
            MessageBoxA(owner ? owner : commandOwner(), text, "错误", MB_OK | MB_ICONERROR);
    } catch (...) {
        // Nothing is left to report with; the log line above is all there is.
    }
}

}  // namespace ledgerhost
