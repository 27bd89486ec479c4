#pragma once
// Raw deflate decoding for the entry stream (ZIP method 8: no header, no
// check value, a 32 KiB window). Two decoders sit behind one small
// interface: Intel ISA-L's, about twice as fast as zlib's on the data a
// restore inflates, which every build uses unless it was configured
// without it, and zlib's, which every build has, which a build without
// ISA-L uses, and which the tests hold ISA-L's to. Neither takes the
// CRC-32: the stream, or the thread that writes the data, takes its own.
// Only zip/ and its tests include this header, and sorvane-cli for the
// name of the decoder in use.

#include <cstdint>
#include <memory>
#include <string>

enum class InflaterKind { kZlib, kIsal };

// How one call of Inflate ended.
enum class InflateStatus {
    kOk,       // it stopped for want of input or of room; nothing wrong so far
    kEnd,      // the final block has ended and all of its output is delivered
    kCorrupt,  // the data is not deflate data, or the decoder could not start
};

// One decoder, used for one entry after another: Reset starts the next.
// Copying is deleted: the state behind it is owned.
class Inflater {
public:
    Inflater() = default;
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    virtual ~Inflater() = default;

    // Readies the decoder for a new stream. False when it can't be made
    // ready (zlib's state could not be allocated); Inflate then gives
    // kCorrupt until a Reset succeeds.
    virtual bool Reset() = 0;
    // Decodes from `in` (inSize bytes) into `out` (room bytes) and moves
    // all four on past what it consumed and produced. Never writes past
    // room. The decoder keeps its own copy of the window: neither the
    // input nor the output of earlier calls is looked at again, so the
    // caller may reuse both buffers. `finish` says that no input follows
    // and that room holds the rest of the output wanted: zlib then keeps no
    // copy of it in its window.
    virtual InflateStatus Inflate(const std::uint8_t*& in, std::uint32_t& inSize, std::uint8_t*& out,
                                  std::uint32_t& room, bool finish) = 0;
};

// A decoder of the given kind, or none when this build has no such (a build
// configured without ISA-L).
std::unique_ptr<Inflater> MakeInflater(InflaterKind kind);
// The kind entry streams use: ISA-L, unless the build was configured
// without it.
InflaterKind DefaultInflaterKind();

// The library behind DefaultInflaterKind and its version, as the build
// was made with it: "ISA-L" "2.30.0", or "zlib" "1.2.13".
struct InflaterLibrary {
    std::string name;
    std::string version;
};
InflaterLibrary DefaultInflaterLibrary();

// zlib's decoder and version, for the file that chooses the build's decoder
// (inflater_isal.cpp or inflater_zlib_only.cpp, picked in CMake).
std::unique_ptr<Inflater> MakeZlibInflater();
std::string ZlibLibraryVersion();
