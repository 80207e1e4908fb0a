#include "ServiceLog.h"

#include <cstdio>

Q_LOGGING_CATEGORY(lcService, "netquill.service")

namespace {
void writeLine(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    QByteArray line = context.category ? QByteArray(context.category) : QByteArray("default");
    line += ": ";
    // A message spanning lines (a server's reply) stays one entry of the journal.
    line += message.toUtf8().replace('\n', ' ').replace('\r', ' ');
    line += '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}
} // namespace

void ServiceLog::install()
{
    qInstallMessageHandler(writeLine);
}
