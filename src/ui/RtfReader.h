#pragma once

#include <QtGlobal>

class QByteArray;
class QTextDocument;

/// Reads the part of RTF a help file uses: groups, the font and colour tables, bold, italic,
/// underline, sizes, colours, paragraphs (indents, spacing, alignment), tabs, line breaks, bullets
/// and other symbols, \'hh and \u escapes. Unknown control words and destinations are skipped.
namespace RtfReader {
constexpr qsizetype MaxInputSize = 4 * 1024 * 1024;
/// Groups nested deeper than this are skipped with everything in them.
constexpr int MaxGroupDepth = 256;

/// Replaces the document's content with the RTF data and returns true. Returns false and leaves the
/// document untouched when the data does not start with "{\rtf" or is larger than MaxInputSize.
/// A truncated or malformed file shows what could be read.
bool read(const QByteArray &rtf, QTextDocument &document);
} // namespace RtfReader
