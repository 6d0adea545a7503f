#pragma once
#include "NoCrtAssert.h"
#include "NoCrtMem.h"
#include "NoCrtMemOps.h"
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <new>
#include <utility>

// A read-only view of text: pointer, visible length and whether a nul follows.
template <class Ch>
struct NoCrtStrView {
    const Ch* p = nullptr;
    std::size_t len = 0;
    bool nulTerminated = false;
};
using WView = NoCrtStrView<wchar_t>;
using AView = NoCrtStrView<char>;

namespace NoCrtStrDetail {
    inline std::size_t Len(const char* s) { return s ? NoCrtLength(s) : 0; }
    inline std::size_t Len(const wchar_t* s) { return s ? NoCrtLength(s) : 0; }
    template <class Ch> const Ch* Empty();
    template <> inline const char* Empty<char>() { return ""; }
    template <> inline const wchar_t* Empty<wchar_t>() { return L""; }
}

// A string whose buffer grows to exactly the size an operation needs, whose
// positional operations are checked (a failed check throws StrAssertionFailed),
// and whose memory is overwritten with 0xFE before it goes back to the heap and
// beyond its end whenever it shrinks.
//
// The stored length counts the terminating nul; an empty string stores 0 or 1
// and may have no buffer at all.
template <class Ch, class Alloc = NoCrtHeap>
class NoCrtStringT : public NoCrtAllocFail {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    NoCrtStringT() = default;
    NoCrtStringT(const Ch* s) { assign(s, NoCrtStrDetail::Len(s)); }
    NoCrtStringT(const Ch* s, std::size_t n) { assign(s, n); }
    NoCrtStringT(std::size_t n, Ch ch) { resize(n, ch); }
    NoCrtStringT(const NoCrtStringT& o) { assign(o.data(), o.size()); }
    NoCrtStringT(NoCrtStringT&& o) noexcept : p_(o.p_), s_(o.s_), c_(o.c_)
    {
        o.p_ = nullptr;
        o.s_ = o.c_ = 0;
    }
    ~NoCrtStringT() { Release(); }

    NoCrtStringT& operator=(const NoCrtStringT& o)
    {
        if (this != &o)
            assign(o.data(), o.size());
        return *this;
    }
    NoCrtStringT& operator=(NoCrtStringT&& o) noexcept
    {
        if (this != &o) {
            Release();
            p_ = o.p_; s_ = o.s_; c_ = o.c_;
            o.p_ = nullptr;
            o.s_ = o.c_ = 0;
        }
        return *this;
    }
    NoCrtStringT& operator=(const Ch* s) { return assign(s, NoCrtStrDetail::Len(s)); }

    std::size_t size() const { return s_ ? s_ - 1 : 0; }
    std::size_t length() const { return size(); }
    std::size_t capacity() const { return c_; }
    std::size_t storedLength() const { return s_; }
    bool empty() const { return size() == 0; }
    const Ch* c_str() const { return p_ && s_ ? p_ : NoCrtStrDetail::Empty<Ch>(); }
    const Ch* data() const { return c_str(); }
    // Raw buffer for APIs that fill a sized string in place.
    Ch* buffer() { return p_; }
    NoCrtStrView<Ch> view() const { return {c_str(), size(), true}; }

    Ch operator[](std::size_t i) const
    {
        NoCrtAssert(!af_ && i<length());
        return p_[i];
    }
    Ch& operator[](std::size_t i)
    {
        NoCrtAssert(!af_ && i<length());
        return p_[i];
    }

    void reserve(std::size_t chars)
    {
        if (chars + 1 > c_)
            Grow(chars + 1);
    }

    void clear() { SetLength(0); }

    // Sets the visible length; new characters take `ch`.
    void resize(std::size_t n, Ch ch = Ch())
    {
        std::size_t old = size();
        if (n > old) {
            reserve(n);
            for (std::size_t i = old; i < n; ++i)
                p_[i] = ch;
        }
        SetLength(n);
    }

    // Cuts the string at its first nul, after an API filled the buffer.
    void trimAtNul()
    {
        if (p_)
            SetLength(NoCrtStrDetail::Len(p_) < size() ? NoCrtStrDetail::Len(p_) : size());
    }

    NoCrtStringT& assign(const Ch* s, std::size_t n) { return replace(0, size(), s, n); }
    NoCrtStringT& assign(const Ch* s) { return assign(s, NoCrtStrDetail::Len(s)); }
    NoCrtStringT& assign(const NoCrtStringT& str, std::size_t off, std::size_t toCopy)
    {
        if (off <= str.size() && toCopy > str.size() - off)
            toCopy = str.size() - off;
        NoCrtAssert(off + toCopy <= str.size() + 1);
        return replace(0, size(), str.data() + off, toCopy);
    }

    NoCrtStringT& append(const Ch* s, std::size_t n) { return replace(size(), 0, s, n); }
    NoCrtStringT& append(const Ch* s) { return append(s, NoCrtStrDetail::Len(s)); }
    NoCrtStringT& append(Ch ch) { return append(&ch, 1); }
    NoCrtStringT& append(const NoCrtStringT& str) { return append(str.data(), str.size()); }
    NoCrtStringT& append(const NoCrtStringT& str, std::size_t off, std::size_t count)
    {
        return insert(size(), str, off, count);
    }
    NoCrtStringT& append(NoCrtStrView<Ch> v) { return append(v.p, v.len); }
    NoCrtStringT& operator+=(const NoCrtStringT& s) { return append(s); }
    NoCrtStringT& operator+=(const Ch* s) { return append(s); }
    NoCrtStringT& operator+=(Ch ch) { return append(ch); }

    NoCrtStringT& insert(std::size_t p0, const Ch* s, std::size_t n) { return replace(p0, 0, s, n); }
    NoCrtStringT& insert(std::size_t p0, const NoCrtStringT& str, std::size_t off = 0,
                         std::size_t count = npos)
    {
        NoCrtAssert(off <= str.size());
        std::size_t extend = count < str.size() - off ? count : str.size() - off;
        NoCrtAssert(off + extend <= str.size() + 1);
        return replace(p0, 0, str.data() + off, extend);
    }

    // Replaces n0 characters at p0 with n characters from s. The source may lie
    // inside this string: it is then read before the buffer changes.
    NoCrtStringT& replace(std::size_t p0, std::size_t n0, const Ch* s, std::size_t n)
    {
        std::size_t len = size();
        NoCrtAssert(p0 + n0 <= len);
        std::size_t newLen = len - n0 + n;
        if (newLen == 0 && !p_)
            return *this; // an empty string may have no buffer
        bool overlaps = p_ && s && s < p_ + c_ && s + n > p_;
        if (newLen + 1 > c_ || overlaps) {
            Ch* q = static_cast<Ch*>(Alloc::Allocate((newLen + 1) * sizeof(Ch)));
            Copy(q, p_, p0);
            Copy(q + p0, s, n);
            Copy(q + p0 + n, p_ + p0 + n0, len - p0 - n0);
            q[newLen] = Ch();
            Release();
            p_ = q;
            c_ = newLen + 1;
            s_ = newLen ? newLen + 1 : 1;
            return *this;
        }
        Copy(p_ + p0 + n, p_ + p0 + n0, len - p0 - n0);
        Copy(p_ + p0, s, n);
        SetLength(newLen);
        return *this;
    }

    NoCrtStringT& erase(std::size_t pos, std::size_t count = npos)
    {
        std::size_t len = size();
        NoCrtAssert(pos <= len);
        if (count > len - pos)
            count = len - pos;
        NoCrtAssert(pos + count <= len);
        return replace(pos, count, nullptr, 0);
    }

    NoCrtStringT substr(std::size_t pos, std::size_t count = npos) const
    {
        std::size_t len = size();
        NoCrtAssert(pos <= len);
        if (count > len - pos)
            count = len - pos;
        NoCrtAssert(pos + count <= len);
        return NoCrtStringT(data() + pos, count);
    }

    int compare(const Ch* s, std::size_t n) const { return compare(0, size(), s, n); }
    int compare(const NoCrtStringT& o) const { return compare(0, size(), o.data(), o.size()); }
    int compare(std::size_t pos1, std::size_t num1, const Ch* s, std::size_t n) const
    {
        std::size_t len1 = size();
        NoCrtAssert((pos1 <= len1) && (pos1 + num1 <= len1));
        std::size_t m = num1 < n ? num1 : n;
        for (std::size_t i = 0; i < m; ++i) {
            if (p_[pos1 + i] != s[i])
                return p_[pos1 + i] < s[i] ? -1 : 1;
        }
        return num1 == n ? 0 : (num1 < n ? -1 : 1);
    }

    std::size_t find(Ch ch, std::size_t off = 0) const
    {
        std::size_t len = size();
        NoCrtAssert(off <= len);
        for (std::size_t i = off; i < len; ++i)
            if (p_[i] == ch)
                return i;
        return npos;
    }

    std::size_t find_first_of(const Ch* set, std::size_t off = 0) const
    {
        std::size_t len = size();
        NoCrtAssert(off <= len);
        for (std::size_t i = off; i < len; ++i)
            if (InSet(p_[i], set))
                return i;
        return npos;
    }

    std::size_t rfind(Ch ch) const
    {
        for (std::size_t i = size(); i-- > 0;)
            if (p_[i] == ch)
                return i;
        return npos;
    }

    std::size_t find_last_of(const Ch* set) const
    {
        for (std::size_t i = size(); i-- > 0;)
            if (InSet(p_[i], set))
                return i;
        return npos;
    }

    bool startsWith(const Ch* prefix) const
    {
        std::size_t n = NoCrtStrDetail::Len(prefix);
        return n <= size() && compare(0, n, prefix, n) == 0;
    }

    // Index of the first character that is not a hexadecimal digit; npos when
    // every character is one, and for an empty string.
    std::size_t findFirstNonHex() const
    {
        static const char digits[] = "0123456789abcdefABCDEF";
        for (std::size_t i = 0; i < size(); ++i) {
            Ch c = p_[i];
            bool hex = false;
            for (const char* d = digits; *d; ++d)
                if (c == static_cast<Ch>(*d))
                    hex = true;
            if (!hex)
                return i;
        }
        return npos;
    }

    friend bool operator==(const NoCrtStringT& a, const NoCrtStringT& b) { return a.compare(b) == 0; }
    friend bool operator!=(const NoCrtStringT& a, const NoCrtStringT& b) { return !(a == b); }
    friend bool operator==(const NoCrtStringT& a, const Ch* b)
    {
        return a.compare(b, NoCrtStrDetail::Len(b)) == 0;
    }
    friend bool operator!=(const NoCrtStringT& a, const Ch* b) { return !(a == b); }
    friend bool operator<(const NoCrtStringT& a, const NoCrtStringT& b) { return a.compare(b) < 0; }
    friend NoCrtStringT operator+(const NoCrtStringT& a, const NoCrtStringT& b)
    {
        NoCrtStringT r;
        r.reserve(a.size() + b.size());
        r.append(a);
        r.append(b);
        return r;
    }
    friend NoCrtStringT operator+(const NoCrtStringT& a, const Ch* b)
    {
        std::size_t n = NoCrtStrDetail::Len(b);
        NoCrtStringT r;
        r.reserve(a.size() + n);
        r.append(a);
        r.append(b, n);
        return r;
    }
    friend NoCrtStringT operator+(const Ch* a, const NoCrtStringT& b)
    {
        std::size_t n = NoCrtStrDetail::Len(a);
        NoCrtStringT r;
        r.reserve(n + b.size());
        r.append(a, n);
        r.append(b);
        return r;
    }

private:
    // Out of line: inlined, the compiler cannot see that the checked ranges
    // are sane and warns about impossible sizes.
    __attribute__((noinline)) static void Copy(Ch* to, const Ch* from, std::size_t n)
    {
        NoCrtMove(to, from, n);
    }

    static bool InSet(Ch c, const Ch* set)
    {
        for (; *set; ++set)
            if (*set == c)
                return true;
        return false;
    }

    // New visible length within the capacity; the freed tail is wiped.
    void SetLength(std::size_t n)
    {
        if (!p_)
            return;
        p_[n] = Ch();
        s_ = n + 1;
        NoCrtWipe(p_ + n + 1, (c_ - n - 1) * sizeof(Ch));
    }

    void Grow(std::size_t cap)
    {
        Ch* q = static_cast<Ch*>(Alloc::Allocate(cap * sizeof(Ch)));
        std::size_t len = size();
        Copy(q, p_, len);
        q[len] = Ch();
        std::size_t stored = s_ ? s_ : 1;
        Release();
        p_ = q;
        c_ = cap;
        s_ = stored;
        NoCrtWipe(p_ + s_, (c_ - s_) * sizeof(Ch));
    }

    void Release()
    {
        if (p_) {
            NoCrtWipe(p_, c_ * sizeof(Ch));
            Alloc::Release(p_, c_ * sizeof(Ch));
        }
        p_ = nullptr;
        s_ = c_ = 0;
    }

    Ch* p_ = nullptr;
    std::size_t s_ = 0;
    std::size_t c_ = 0;
};

using WString = NoCrtStringT<wchar_t>;
using AString = NoCrtStringT<char>;
