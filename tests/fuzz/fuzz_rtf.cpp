// libFuzzer target: the RTF reader must neither crash nor hang on any input, and what it builds must
// lay out as the help window lays it out.

#include "RtfReader.h"

#include <QGuiApplication>
#include <QTextDocument>

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Laying text out needs fonts, and fonts need a GUI application; no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QTextDocument document;
    const QByteArray rtf = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    if (RtfReader::read(rtf, document)) {
        document.setTextWidth(686); // the help window's width in pixels
        document.size();
    }
    return 0;
}
