#pragma once

namespace vyx::cli {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that nothing
// opened later (the serial device above all) takes its place and receives text meant
// for standard output or error. Call first thing, before anything is opened.
void EnsureStandardDescriptors();

// A closed pipe on standard output makes the write fail (EPIPE) rather than end the
// process unannounced, so that the failure is told and the exit status is 1.
void IgnoreBrokenPipe();

// True when standard error is a terminal (progress lines are shown there only).
bool StderrIsTerminal();

}  // namespace vyx::cli
