// The decoder of a build configured without ISA-L (SORVANE_ISAL off): zlib's.

#include "zip/inflater.h"

std::unique_ptr<Inflater> MakeInflater(InflaterKind kind) {
    return kind == InflaterKind::kZlib ? MakeZlibInflater() : nullptr;
}

InflaterKind DefaultInflaterKind() { return InflaterKind::kZlib; }

InflaterLibrary DefaultInflaterLibrary() { return {"zlib", ZlibLibraryVersion()}; }
