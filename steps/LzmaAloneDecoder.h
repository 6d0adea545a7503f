#pragma once
#include "../nocrtlib/NoCopy.h"
#include <cstddef>
#include <cstdint>

// The raw LZMA decoder of a stream in the "alone" layout, set up from the
// layout's five property bytes. Decode reports the input consumed, the output
// produced and the decoder's result code (0 for success).
class LzmaAloneDecoder : NoCopy {
public:
    LzmaAloneDecoder();
    ~LzmaAloneDecoder();

    // False when the properties are invalid.
    bool Init(const std::uint8_t* properties);
    int Decode(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t outSize,
               std::size_t& consumed, std::size_t& produced);

private:
    struct State;
    State* state_;
};
