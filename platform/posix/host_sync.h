// Simulated host: test control of the synchronisation family.
#pragma once

namespace win::host {

// The next `count` calls of CreateSemaphoreA fail with
// ERROR_NOT_ENOUGH_MEMORY (0 clears), so tests can reach the paths that
// handle a semaphore that cannot be created.
void FailSemaphoreCreations(int count);

}  // namespace win::host
