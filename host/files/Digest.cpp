#include "Digest.h"

#include <QCryptographicHash>

namespace ledgerhost {

std::string contentDigest(std::string_view bytes) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return hash.result().toHex().toStdString();
}

}  // namespace ledgerhost
