#pragma once

// The product this setup program installs.
namespace Product {
constexpr const wchar_t* kName = L"Quendal";
constexpr const wchar_t* kMakerPrefix = L"Korvane ";
constexpr const wchar_t* kVersion = L"5.18";
constexpr const wchar_t* kDefaultFolder = L"Korvane Quendal";
} // namespace Product
