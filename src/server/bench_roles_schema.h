#pragma once

// The server's step to version 3, second half: least privilege that holds whatever was
// granted. A bench is keyed by the stable id kept beside its archive and its port, and filed
// under the role that made it; row-level security lets a role insert only its own benches,
// the tests of its own benches, their rows and their audit events; the tables the server
// alone writes (the schema version, the server's identity, the summaries, the accounts, the
// conflicts) take no row from anyone but their owner. Whatever was granted beyond reading and
// inserting is taken back, the functions that run with the owner's rights search a fixed path
// with the temporary schema last and may not be called by PUBLIC, and no role but the owner
// may make temporary tables or objects in the schema. `packaging/kivo-add-bench` makes a
// bench's role.
namespace server {

extern const char* const kBenchRolesStep;

}  // namespace server
