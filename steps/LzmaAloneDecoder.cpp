#include "LzmaAloneDecoder.h"
#include <lzma.h>
#include <cstdlib>

struct LzmaAloneDecoder::State {
    lzma_stream stream = LZMA_STREAM_INIT;
    bool ready = false;
};

LzmaAloneDecoder::LzmaAloneDecoder() : state_(new State) {}

LzmaAloneDecoder::~LzmaAloneDecoder()
{
    if (state_->ready)
        lzma_end(&state_->stream);
    delete state_;
}

bool LzmaAloneDecoder::Init(const std::uint8_t* properties)
{
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_properties_decode(&filters[0], nullptr, properties, 5) != LZMA_OK)
        return false;
    lzma_ret r = lzma_raw_decoder(&state_->stream, filters);
    std::free(filters[0].options);
    state_->ready = r == LZMA_OK;
    return state_->ready;
}

int LzmaAloneDecoder::Decode(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t outSize,
                             std::size_t& consumed, std::size_t& produced)
{
    lzma_stream& s = state_->stream;
    s.next_in = in;
    s.avail_in = inSize;
    s.next_out = out;
    s.avail_out = outSize;
    lzma_ret r = lzma_code(&s, LZMA_RUN);
    consumed = inSize - s.avail_in;
    produced = outSize - s.avail_out;
    // The end marker after the announced size is as good as success.
    return r == LZMA_OK || r == LZMA_STREAM_END ? 0 : static_cast<int>(r);
}
