#include "LzmaDecodeAhead.h"
#include "../wwlib/InstallError.h"
#include <new>

LzmaDecodeAhead::LzmaDecodeAhead(LzmaAloneDecoder& decoder, const std::uint8_t* in, std::size_t inSize,
                                 std::uint64_t total)
    : decoder_(decoder), in_(in), inLeft_(inSize), left_(total)
{
    buffers_ = new std::uint8_t[kChunkSize * kSlots];
    for (Chunk& c : chunks_)
        c = Chunk{nullptr, 0, Ending::None, 0};
    if (free_.Valid() && filled_.Valid())
        thread_ = CreateThread(nullptr, 0, &ThreadMain, this, 0, nullptr);
}

LzmaDecodeAhead::~LzmaDecodeAhead()
{
    if (thread_) {
        InterlockedExchange(&stop_, 1);
        // A decoder that waits for a slot finds one, and then the stop.
        free_.Give(true);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    delete[] buffers_;
}

bool LzmaDecodeAhead::Stopping() const
{
    return InterlockedCompareExchange(const_cast<volatile LONG*>(&stop_), 0, 0) != 0;
}

DWORD WINAPI LzmaDecodeAhead::ThreadMain(void* self)
{
    auto* ahead = static_cast<LzmaDecodeAhead*>(self);
    ahead->DecodeAll();
    return 0;
}

void LzmaDecodeAhead::DecodeAll()
{
    for (int slot = 0;; slot = (slot + 1) % kSlots) {
        free_.Take();
        if (Stopping())
            return;
        bool more = true;
        boundary_.Run([&] { more = DecodeInto(slot); });
        if (boundary_.Failed())
            chunks_[slot] = Chunk{nullptr, 0, Ending::Exception, 0};
        const bool last = !more || boundary_.Failed();
        filled_.Give(last);
        if (last)
            return;
    }
}

bool LzmaDecodeAhead::DecodeInto(int slot)
{
    Chunk& c = chunks_[slot];
    std::uint8_t* out = buffers_ + kChunkSize * static_cast<std::size_t>(slot);
    std::size_t consumed = 0, produced = 0;
    if (left_ == 0) {
        // Data that goes on after the announced size would be files left out
        // of an installation that reports success.
        std::uint8_t extra = 0;
        bool continues = decoder_.Decode(in_, inLeft_, &extra, 1, consumed, produced) == 0 && produced != 0;
        c = Chunk{nullptr, 0, continues ? Ending::Continues : Ending::Complete, 0};
        return false;
    }
    const std::size_t want = left_ < kChunkSize ? static_cast<std::size_t>(left_) : kChunkSize;
    const int r = decoder_.Decode(in_, inLeft_, out, want, consumed, produced);
    if (r != 0) {
        c = Chunk{nullptr, 0, Ending::Failed, r};
        return false;
    }
    // Data that ends before the announced size would otherwise be asked for
    // again and again.
    if (produced == 0) {
        c = Chunk{nullptr, 0, Ending::Truncated, 0};
        return false;
    }
    in_ += consumed;
    inLeft_ -= consumed;
    left_ -= produced;
    c = Chunk{out, produced, Ending::None, 0};
    return true;
}

const LzmaDecodeAhead::Chunk& LzmaDecodeAhead::Next()
{
    if (ended_)
        throw InstallError(L"LzmaDecodeAhead: read after the end of the stream");
    if (!thread_) {
        // Decoding here, into the first slot, one chunk at a time.
        ended_ = !DecodeInto(0);
        return chunks_[0];
    }
    if (holding_) {
        readSlot_ = (readSlot_ + 1) % kSlots;
        free_.Give();
    }
    filled_.Take();
    holding_ = true;
    const Chunk& c = chunks_[readSlot_];
    if (c.ending != Ending::None)
        ended_ = true;
    if (c.ending == Ending::Exception)
        boundary_.Rethrow();
    return c;
}
