#include "CommonObj.h"

#include "Seams.h"
#include "Trim.h"

namespace ledgerhost {

namespace {
TCommonObj commonObj;
}
TCommonObj* CmmObj = &commonObj;

void TCommonObj::MsgBox(const std::string& text) {
    seams::messageHook()(commandOwner(),
                         {seams::MsgKind::MsgBox, text, "提示", MB_OK | MB_ICONINFORMATION});
}

int TCommonObj::AppMsg(const std::string& text) {
    int r = seams::messageHook()(
        commandOwner(), {seams::MsgKind::AppMsg, text, "提示", MB_YESNO | MB_ICONQUESTION});
    return r == IDYES ? 1 : 0;
}

void TCommonObj::MsgError(const std::string& text, const std::string& a, const std::string& b,
                          const std::string& c) {
    std::string full = text;
    for (const std::string* extra : {&a, &b, &c})
        if (!extra->empty()) full += "\n" + *extra;
    seams::messageHook()(commandOwner(),
                         {seams::MsgKind::MsgError, full, "错误", MB_OK | MB_ICONERROR});
}

std::vector<std::string> TCommonObj::DelimStr(const std::string& line, const std::string& delim) {
    return splitKeepingEmpty(line, delim);
}

}  // namespace ledgerhost
