#pragma once

#include <QString>

// A host name that cannot be resolved and that the resolver refuses on its own: a label longer than
// 63 characters never becomes a DNS query, so tests send nothing to the machine's name server.
inline QString UnresolvableHost() {
    return QString(70, u'x') + QStringLiteral(".invalid");
}
