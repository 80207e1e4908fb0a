#pragma once

#include <QtGlobal>

#if defined(NETQUILL_WEBSITE_LIBRARY)
#define NETQUILL_WEBSITE_EXPORT Q_DECL_EXPORT
#else
#define NETQUILL_WEBSITE_EXPORT Q_DECL_IMPORT
#endif
