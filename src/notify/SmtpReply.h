#pragma once

#include <QString>

namespace SmtpReply {
/// The whole number the text begins with; 0 when it does not begin with a digit. Values too large for an
/// int saturate, so an absurd port stays unusable instead of wrapping round to a valid one.
int LeadingNumber(const QString &text);

/// The reply code: the leading number of the text before the first blank ("250-ok" and "250 ok" give 250).
int Code(const QString &reply);

/// True when the text ends a reply line.
bool EndsWithLineEnd(const QString &text);
} // namespace SmtpReply
