#pragma once

// One test executable per folder: each test class registers itself with NETQUILL_TEST, and the
// shared main runs every class, or only the one named as the first argument.

#include <QObject>
#include <QStringList>
#include <QTest>
#include <functional>
#include <vector>

namespace TestRegistry {
struct Entry {
    const char *name;
    std::function<QObject *()> create;
};
std::vector<Entry> &entries();
/// Outside programs that tests needed and did not find, each with the test that needed it.
QStringList &missingPieces();
struct Registrar {
    Registrar(const char *name, std::function<QObject *()> create) { entries().push_back({name, create}); }
};
} // namespace TestRegistry

#define NETQUILL_TEST(Class)                                                                                 \
    static TestRegistry::Registrar registrar_##Class(#Class,                                                 \
                                                     [] { return static_cast<QObject *>(new Class); });

/// Skips the current test function when an outside program it needs is missing (`reason` not empty).
/// The executable then ends with CTest's skip code unless another test failed, so a run without the
/// program reports the test as skipped, never as passed.
#define NETQUILL_REQUIRE(reason)                                                                             \
    do {                                                                                                     \
        const QString missing_ = (reason);                                                                   \
        if (!missing_.isEmpty()) {                                                                           \
            TestRegistry::missingPieces().append(QString::fromLatin1(QTest::currentTestFunction()) +         \
                                                 QStringLiteral(": ") + missing_);                           \
            QSKIP(qPrintable(missing_));                                                                     \
        }                                                                                                    \
    } while (false)
