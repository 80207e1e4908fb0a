#pragma once

#include <QString>
#include <QStringList>

namespace SmtpReply {
/// The whole number the text begins with; 0 when it does not begin with a digit. Values too large for an
/// int saturate, so an absurd port stays unusable instead of wrapping round to a valid one.
int LeadingNumber(const QString &text);

/// The reply code: the leading number of the text before the first blank ("250-ok" and "250 ok" give 250).
int Code(const QString &reply);

/// True when the text holds a whole reply: it ends with a line end, and its last line does not announce
/// more lines to come, as a code followed by a hyphen ("250-SIZE") does. Any other last line ends it.
bool IsComplete(const QString &text);

/// The extensions an EHLO reply announces, one per line after the first, in capitals ("STARTTLS",
/// "AUTH PLAIN LOGIN").
QStringList Extensions(const QString &reply);

/// The login mechanisms among the extensions, from "AUTH PLAIN LOGIN" or the older "AUTH=PLAIN LOGIN".
QStringList AuthMechanisms(const QStringList &extensions);
} // namespace SmtpReply
