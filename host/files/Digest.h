#pragma once

// The digest by which the import log knows a file's content.

#include <memory>
#include <string>
#include <string_view>

#include "LhApi.h"

namespace ledgerhost {

// Lower-case hex SHA-256 of the bytes.
LH_API std::string contentDigest(std::string_view bytes);

// The same digest of bytes given in pieces, so that a file need not be held
// whole to be known: contentDigest of all the pieces one after another.
class LH_API ContentDigest {
  public:
    ContentDigest();
    ~ContentDigest();
    ContentDigest(const ContentDigest&) = delete;
    ContentDigest& operator=(const ContentDigest&) = delete;

    void add(std::string_view bytes);
    // The digest of everything added; the object is spent after it.
    std::string hex();

  private:
    struct Context;
    std::unique_ptr<Context> ctx_;
};

}  // namespace ledgerhost
