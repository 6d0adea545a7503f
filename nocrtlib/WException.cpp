#include "WException.h"
#include "NoCrtConvert.h"
#include <windows.h>

const char* WException::what() const noexcept
{
    if (!narrow_.empty())
        return narrow_.c_str();
    try {
        WView d = Description();
        if (!WideToNarrow(CP_ACP, d.p, static_cast<int>(d.len), narrow_))
            narrow_ = "[WException: conversion of exception description to ANSI code page failed]";
    } catch (...) {
        return "";
    }
    return narrow_.c_str();
}

WView N2WException::Description() const
{
    static const wchar_t text[] = L"Narrow-to-wide conversion failed";
    return {text, sizeof(text) / sizeof(text[0]) - 1, true};
}

WView W2NException::Description() const
{
    static const wchar_t text[] = L"Wide-to-narrow conversion failed";
    return {text, sizeof(text) / sizeof(text[0]) - 1, true};
}
