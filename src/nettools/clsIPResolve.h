#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

/// Converts between host names and dotted IPv4 addresses through the platform's blocking resolver.
/// An instance serves one conversion; every failure gives the empty string and is logged with its
/// cause. The calls block: DnsConverter runs them on a worker thread.
class clsIPResolve {
public:
    clsIPResolve();
    ~clsIPResolve();
    clsIPResolve(const clsIPResolve &) = delete;
    clsIPResolve &operator=(const clsIPResolve &) = delete;

    /// The name registered for a dotted address, or "".
    QString AddressToName(const QString &address) const;
    /// The first IPv4 address of a name in dotted decimal, or "".
    QString NameToAddress(const QString &name) const;

private:
    friend class clsIPResolveTest; // the text helpers are checked on their own, without lookups

    QString LookupNameByAddress(const QString &text) const;
    QString LookupAddressByName(const QString &text) const;
    static bool IsDottedAddress(const QString &text);
    /// The parts weighted by 256 per position, the last one as a signed byte: for four parts the
    /// address in network byte order once stored little-endian. Empty when the sum leaves 32 bits.
    static std::optional<qint32> DottedToLong(const QString &text);
    static QString TrimAtNul(const QString &text);

    // The platform resolver needs no start-up here; the flag stays for the callers' checks.
    bool blnWinsockReady = true;
};
