// Depackers of archive members and archive headers.
//
// Method 0 is "stored" and handled by the callers; method 1 is the block-sorting method
// (Huffman-coded, with CRCs), method 2 the small LZ method. `depackerFor(method)` gives the
// process-wide depacker of a method, or nullptr for 0 and for unknown methods.
//
// `unpack` reads from the source's current position and returns a new MemoryStream (owned by
// the caller) holding exactly `unpackedSize` bytes, positioned at 0, or nullptr.
// Method 1 errors end the program through the fatal path ("NZIP: depacker error: %s");
// method 2 checks its input and returns nullptr for corrupt data. The decoders underneath
// report errors as codes, so the archive tool and the fuzz targets can use them without
// ending the process.
#pragma once

#include <cstdint>

class Stream;
class MemoryStream;

class Depacker {
  public:
    virtual ~Depacker() = default;
    virtual MemoryStream* unpack(Stream* source, int32_t unpackedSize) = 0;
};

Depacker* depackerFor(uint32_t method);

// The process-wide instance of each method, defined beside its decoder.
Depacker* method1Depacker();
Depacker* method2Depacker();

// Method-1 decoder without the fatal path: reads the packed stream from the source's current
// position, writes exactly unpackedSize bytes to out, leaves the source right after the last
// byte that held stream bits. Returns nullptr on success or the error text ("Data error",
// "CRC error", ...). The unpack of method1Depacker() calls this and ends in fatal on error.
const char* decodeMethod1(Stream* source, uint8_t* out, int32_t unpackedSize);

// What the method-1 fatal error names on its second line ("archive 'x.ncc'"): callers set
// it around an unpack so that the user learns which file is corrupt; nullptr names nothing.
void setDepackerSubject(const char* subject);

// The most bytes a method-1 stream of packedBytes bytes can unpack to: every block costs at
// least a fixed number of bits and yields at most a full block through the final run-length
// step. A larger stated size is corrupt and is refused before its memory is reserved.
int64_t method1MostUnpacked(int64_t packedBytes);

// Method-2 decoder over a block in memory: true when the input decoded to exactly outSize
// bytes and its end mark, never reading past inSize or writing past outSize.
bool decodeMethod2(const uint8_t* in, int32_t inSize, uint8_t* out, int32_t outSize);

// Frees the method-1 work array (program end).
void freeDepackerBuffers();
