#pragma once
#include "LzmaAloneDecoder.h"
#include "../nocrtlib/CallbackBoundary.h"
#include "../nocrtlib/NoCopy.h"
#include "../wwlib/SlotHandOver.h"
#include <windows.h>
#include <cstddef>
#include <cstdint>

// Decodes the data of an "alone" stream on a thread of its own, running ahead
// of its reader through a fixed set of output buffers, so that decoding and
// what the reader does with the bytes (writing files) overlap. The reader
// sees the same chunks, and the same ending, as a loop that decoded them
// itself: up to kChunkSize bytes each, then the reason the stream ended.
// When no thread can be started it decodes in the reader's thread instead.
class LzmaDecodeAhead : NoCopy {
public:
    enum class Ending {
        None,       // a chunk of data
        Complete,   // the announced size decoded, and nothing after it
        Failed,     // the decoder reported `code`
        Truncated,  // the compressed data ended before the announced size
        Continues,  // the compressed data goes on after the announced size
        Exception,  // the decoding thread failed; Next() rethrows it
    };
    struct Chunk {
        const std::uint8_t* data;
        std::size_t size;
        Ending ending;
        int code;
    };

    static const std::size_t kChunkSize = 0x20000;
    static const int kSlots = 16;
    // A side that waits for the other is woken once this many slots are
    // ready for it (or the stream has ended).
    static const int kBatch = kSlots / 2;

    // `in` is the compressed data after the 13 header bytes, `total` the
    // announced size; the decoder is initialised and is used by the decoding
    // thread alone from now on, until this object is gone.
    LzmaDecodeAhead(LzmaAloneDecoder& decoder, const std::uint8_t* in, std::size_t inSize, std::uint64_t total);
    // Stops the decoding thread (wherever it is) and waits for it.
    ~LzmaDecodeAhead();

    // The next chunk; waits until it is decoded. The chunk returned before is
    // handed back, so its bytes must not be used any more. After a chunk with
    // an ending, there is none.
    const Chunk& Next();

private:
    static DWORD WINAPI ThreadMain(void* self);
    void DecodeAll();
    // Decodes the next chunk into the slot; false once the stream has ended.
    bool DecodeInto(int slot);
    bool Stopping() const;

    LzmaAloneDecoder& decoder_;
    const std::uint8_t* in_;
    std::size_t inLeft_;
    std::uint64_t left_;
    bool ended_ = false;
    std::uint8_t* buffers_ = nullptr;
    Chunk chunks_[kSlots];
    WWLib::SlotHandOver free_{kSlots, kBatch}; // slots the decoder may fill
    WWLib::SlotHandOver filled_{0, kBatch};    // slots the reader may take
    HANDLE thread_ = nullptr;
    volatile LONG stop_ = 0;
    int readSlot_ = 0;
    bool holding_ = false;
    CallbackBoundary boundary_;
};
