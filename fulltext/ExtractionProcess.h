#pragma once

#include "ChildLimits.h"
#include "TextExtraction.h"

#include <QString>
#include <atomic>

// Bounds on one extraction. A file that passes one of them is skipped.
struct ExtractionLimits
{
    int seconds = 30;                                      // wall-clock time of the process
    qint64 memoryBytes = ChildLimits::defaultAddressSpace; // its address space; 0: unbounded
    qint64 maxText = 16 * 1024 * 1024;                     // characters of text
    qint64 maxFileSize = 256LL * 1024 * 1024;              // bytes of the unpacked file
};

// The extraction process itself (`quillon --extract-text FILE`): prints the
// file's text as UTF-8 on stdout, the reason of a failure on stderr, and
// exits with the ExtractStatus as its status.
int runExtractTextCommand(const QString &path, qint64 maxText);

// Runs `program --extract-text path` under the limits and reads its answer.
// A process that crashes, runs out of memory or time, or writes more than the
// limit is killed, and the file counts as damaged or too large. Setting
// `stop` kills it too (the program is closing).
Extraction extractInProcess(const QString &program, const QString &path,
                            const ExtractionLimits &limits, const std::atomic_bool *stop = nullptr);
