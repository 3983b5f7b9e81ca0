#pragma once

#include <QtGlobal>

// Bounds on a child process that reads an untrusted file (the extraction of
// attached files' text, the reading of XLS workbooks), set in the child
// before it runs.
namespace ChildLimits {

// The address space a reading process gets by default. The address
// sanitizer's shadow memory reserves terabytes of address space at start, so
// a sanitized build cannot run under such a bound: there it is 0 (unbounded),
// and time and output bound the child alone.
#ifdef __SANITIZE_ADDRESS__
inline constexpr bool addressSpaceBoundable = false;
#else
inline constexpr bool addressSpaceBoundable = true;
#endif
inline constexpr qint64 defaultAddressSpace = addressSpaceBoundable ? 1024LL * 1024 * 1024 : 0;

// Bounds the calling process's address space (0, or a sanitized build: leaves it unbounded) and its
// processor time, and lowers its priority so that the window keeps its core.
// Async-signal-safe: called between fork and exec.
void bound(qint64 addressSpaceBytes, int cpuSeconds);

} // namespace ChildLimits
