#pragma once

#include "TextExtraction.h"

#include <QString>
#include <atomic>

// The address-sanitizer's shadow memory reserves terabytes of address space at
// start: a sanitized build cannot bound the extraction's address space, and
// bounds it by time and output alone.
#ifdef __SANITIZE_ADDRESS__
inline constexpr qint64 extractionAddressSpace = 0;
#else
inline constexpr qint64 extractionAddressSpace = 1024LL * 1024 * 1024;
#endif

// Bounds on one extraction. A file that passes one of them is skipped.
struct ExtractionLimits
{
    int seconds = 30;                            // wall-clock time of the process
    qint64 memoryBytes = extractionAddressSpace; // its address space; 0: unbounded
    qint64 maxText = 16 * 1024 * 1024;           // characters of text
    qint64 maxFileSize = 256LL * 1024 * 1024;    // bytes of the unpacked file
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
