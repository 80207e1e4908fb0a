#pragma once

#include <QByteArray>

namespace PageBody {
/// The received bytes of a page as UTF-8: a byte order mark wins, then the charset the
/// Content-Type header names, then UTF-8; bytes the encoding cannot read become U+FFFD.
QByteArray asUtf8(const QByteArray &bytes, const QByteArray &contentType);
} // namespace PageBody
