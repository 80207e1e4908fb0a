#pragma once

// One test executable per folder: each test class registers itself with NETQUILL_TEST, and the
// shared main runs every class, or only the one named as the first argument.

#include <QObject>
#include <functional>
#include <vector>

namespace TestRegistry {
struct Entry {
    const char *name;
    std::function<QObject *()> create;
};
std::vector<Entry> &entries();
struct Registrar {
    Registrar(const char *name, std::function<QObject *()> create) { entries().push_back({name, create}); }
};
} // namespace TestRegistry

#define NETQUILL_TEST(Class)                                                                                 \
    static TestRegistry::Registrar registrar_##Class(#Class,                                                 \
                                                     [] { return static_cast<QObject *>(new Class); });
