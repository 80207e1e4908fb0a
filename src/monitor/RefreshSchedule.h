#pragma once

#include <optional>

/// The auto-refresh count: one tick a second, a lookup when the count reaches the threshold of the
/// chosen interval. A lookup started any other way does not touch the count.
class RefreshSchedule {
public:
    /// Threshold in ticks for a position of the interval list; nullopt for positions outside -1 to 4,
    /// which leave the threshold as it was.
    static std::optional<int> thresholdFor(int position);

    void resetCount() { m_ticks = 0; }
    void applyInterval(int position);
    /// An interval given in minutes (at least one) instead of a position of the list.
    void applyMinutes(int minutes);
    /// Counts one tick; true when a lookup is due (the count then starts again from 0).
    bool tick();

    int ticks() const { return m_ticks; }
    std::optional<int> threshold() const { return m_threshold; }

private:
    int m_ticks = 0;
    std::optional<int> m_threshold;
};
