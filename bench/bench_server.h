#pragma once

#include <QString>
#include <cstdio>

#include "support/pg_cluster.h"

// Starts the private server of a benchmark with the lab's database `kivo` and its owner; the
// owner's URI, or an empty text once the cause is said on stderr.
inline QString StartBenchServer(PgCluster& cluster) {
    if (!cluster.start() || !cluster.createRole("kivo", "pw") ||
        !cluster.createDatabase("kivo", "kivo")) {
        std::fprintf(stderr, "no server: %s\n", qPrintable(cluster.error()));
        return {};
    }
    return QStringLiteral("postgresql://kivo:pw@127.0.0.1:%1/kivo").arg(cluster.port());
}
