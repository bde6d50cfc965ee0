#pragma once

#include <string>

namespace vyx::sim {

// Makes the calling process the leader of a session of its own, with no controlling
// terminal yet, so that the pseudo-terminal it opens next can become its controlling
// terminal (TIOCSCTTY). A program that opens the line without O_NOCTTY (Wine's server
// does) then cannot take the terminal over, and is not hung up when we close it.
//
// A process group leader cannot call setsid(), and a shell with job control starts every
// job as one. Then the process forks: the child goes on (and returns 1 from here); the
// parent stays the process its starter knows, passes SIGINT, SIGTERM and SIGHUP on to
// the child and exits with the child's status, without ever returning.
// Returns 1, or 0 with `error` naming the call that failed.
int LeadOwnSession(std::string& error);

}  // namespace vyx::sim
