#pragma once

// The host's common object: the messages and helpers every form uses. The
// messages go through the seams, so tests answer them.

#include <string>
#include <vector>

#include "LhApi.h"

namespace ledgerhost {

class LH_API TCommonObj {
  public:
    void MsgBox(const std::string& text);
    // A Yes/No question; 1 on Yes.
    int AppMsg(const std::string& text);
    void MsgError(const std::string& text, const std::string& a = {}, const std::string& b = {},
                  const std::string& c = {});
    // Splits a line at a delimiter, keeping every piece: empty ones too, and a
    // final empty piece after a trailing delimiter. An empty line gives one
    // empty piece; an empty delimiter gives the whole line.
    static std::vector<std::string> DelimStr(const std::string& line, const std::string& delim);
};

// The global reference the host hands to a plug-in with the others.
LH_API extern TCommonObj* CmmObj;

}  // namespace ledgerhost
