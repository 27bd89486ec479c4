#pragma once
// The restore run with its degree of parallelism chosen by the caller, for
// the tests (so that the parallel path runs on a one-core machine too) and
// for measuring. RestoreArchive uses DefaultProducerCount().

#include <string>

#include "restore/restore.h"

inline constexpr int kMaxProducers = 4;

// The first progress report of a run over `count` entries, told to
// `observer`: the byte total costs one walk over the catalogue, made only
// for an observer that shows it.
RestoreProgress StartProgress(ArchiveHandle* archive, std::int32_t count, RestoreObserver* observer);

// Producer threads for this machine: none with one usable core (or when
// the count is unknown), else one per usable core up to kMaxProducers.
int DefaultProducerCount();

// RestoreArchive with `producers` worker threads producing entries' data
// ahead of the run thread; 0 restores every entry on the run thread alone.
int RestoreArchiveWithProducers(const std::u16string& destinationFolder, const std::u16string& archivePath,
                                RestoreObserver* observer, RestoreFailure* failure, int producers);

// VerifyArchive with `readers` threads reading entries at once; 0 reads
// every entry on the calling thread.
int VerifyArchiveWithReaders(const std::u16string& archivePath, RestoreObserver* observer, RestoreFailure* failure,
                             int readers);
