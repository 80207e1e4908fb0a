#include "RefreshSchedule.h"

std::optional<int> RefreshSchedule::thresholdFor(int position)
{
    switch (position) {
    case -1:
    case 0:
        return 60;
    case 1:
        return 300;
    case 2:
        return 600;
    case 3:
        return 1800;
    case 4:
        return 3600;
    default:
        return std::nullopt;
    }
}

void RefreshSchedule::applyInterval(int position)
{
    if (const auto threshold = thresholdFor(position))
        m_threshold = threshold;
}

void RefreshSchedule::applyMinutes(int minutes)
{
    if (minutes >= 1)
        m_threshold = minutes * 60;
}

bool RefreshSchedule::tick()
{
    ++m_ticks;
    if (!m_threshold || m_ticks < *m_threshold)
        return false;
    m_ticks = 0;
    return true;
}
