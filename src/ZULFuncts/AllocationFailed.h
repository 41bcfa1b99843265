// Called where one of the program's small records cannot be allocated. The
// exe ends with status 1; the DLL form marks the run and returns, and its
// caller goes on without the record and stops the command.
#pragma once

struct RunContext;

void AllocationFailed(RunContext &run);
