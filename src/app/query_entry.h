// hlvquery's entry, shared by the program itself and by `hlvsim query`, which installs the lab's
// platform first.
#pragma once

namespace hlv {

// hlvquery [--bundle DIR] [--json] [--prometheus FILE] | --history [--json]
// Exit status: 0 done; 1 not root, another instance running, the bundle unreadable or the
// metrics file not written; 2 a command line it does not take.
int queryMain(int argc, char** argv);

}  // namespace hlv
