#pragma once

// Base of objects that own something no copy may share: install steps, DLL
// loaders, handle holders.
class NoCopy {
protected:
    NoCopy() = default;
    ~NoCopy() = default;
public:
    NoCopy(const NoCopy&) = delete;
    NoCopy& operator=(const NoCopy&) = delete;
};
