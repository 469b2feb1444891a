#pragma once
// A process that holds key material leaves no core dump behind and cannot
// be read by another process of the same user.

void ForbidCoreDumps();
