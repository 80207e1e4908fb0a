#pragma once

#include <QString>

struct SmtpMessageInputs;

/// The notification message and the rules for putting text on an SMTP connection.
namespace SmtpMessage {
/// Lines 1 to 7: the header, each line ending in CR LF, the last one empty.
QString Header(const QString &sender, const QString &recipient, const QString &programName);

/// Lines 8 to 16: the body; the last line has no line end of its own (the terminator supplies it).
QString Body(const SmtpMessageInputs &inputs);

/// What follows the message: the line end of its last line and the lone dot.
inline constexpr char Terminator[] = "\r\n.\r\n";

/// Message text as the DATA command must carry it: every line break (CR LF, bare CR, bare LF) becomes
/// CR LF and a line that begins with "." gets a second one, so received text cannot end the message early.
QString ToTransparentText(const QString &text);

/// True when the text holds a character that could end a command line early or smuggle a second one in:
/// any control character (CR, LF, tab, NUL, DEL, the C1 range) or a Unicode line or paragraph separator.
bool HasControlCharacter(const QString &text);
} // namespace SmtpMessage
