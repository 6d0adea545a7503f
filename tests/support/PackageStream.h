#pragma once
// Package streams made in a test, message by message, and compressed in the
// "alone" layout as the packer makes them (the announced size can be set to
// anything, to make broken packages).
#include <doctest/doctest.h>
#include <lzma.h>
#include <cstdint>
#include <string>
#include <vector>

namespace Test {

using Bytes = std::vector<std::uint8_t>;

// A package stream, message by message.
struct Stream {
    Bytes bytes;
    Stream& Msg(std::uint8_t type, const std::string& body = std::string())
    {
        bytes.push_back(type);
        std::uint32_t n = static_cast<std::uint32_t>(body.size());
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<std::uint8_t>(n >> shift));
        bytes.insert(bytes.end(), body.begin(), body.end());
        return *this;
    }
    Stream& File(const std::string& name, const std::string& data, int mark = 0, int selector = 0)
    {
        Msg(1, name);
        if (mark)
            Msg(mark == 1 ? 2 : mark == 2 ? 3 : 4);
        if (selector)
            Msg(5, std::string(1, static_cast<char>(selector)));
        return Msg(101, data);
    }
};

// The stream compressed in the "alone" layout, as the packer makes it.
inline Bytes Pack(const Bytes& plain, std::uint64_t announced = ~std::uint64_t(0) - 1)
{
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 6);
    options.dict_size = 1 << 20;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    Bytes out(plain.size() + plain.size() / 2 + 1024);
    std::size_t pos = 0;
    REQUIRE(lzma_raw_buffer_encode(filters, nullptr, plain.data(), plain.size(), out.data(), &pos, out.size()) ==
            LZMA_OK);
    out.resize(pos);
    Bytes packed = {0x5d};
    for (int i = 0; i < 4; ++i)
        packed.push_back(static_cast<std::uint8_t>(options.dict_size >> (8 * i)));
    std::uint64_t size = announced == ~std::uint64_t(0) - 1 ? plain.size() : announced;
    for (int i = 0; i < 8; ++i)
        packed.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
    packed.insert(packed.end(), out.begin(), out.end());
    return packed;
}

} // namespace Test
