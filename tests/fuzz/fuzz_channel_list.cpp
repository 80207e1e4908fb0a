// libFuzzer target: the notice channels as the settings file holds them. Any text must parse without a
// crash, and what the program writes from what it read must read back as the same channels.

#include "ChannelConfig.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QList<ChannelConfig>> channels = ChannelList::parse(text);
    if (!channels)
        return 0;
    if (channels->size() > ChannelList::MaxChannels)
        std::abort();
    const std::optional<QList<ChannelConfig>> again = ChannelList::parse(ChannelList::format(*channels));
    if (!again || *again != *channels)
        std::abort();
    return 0;
}
