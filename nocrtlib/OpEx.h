#pragma once
#include "NoCrtVector.h"
#include "WException.h"

// An operation context: the entries that describe what was being done when a
// failure happened, innermost call last.
class OpCx : public NoCrtAllocFail {
public:
    OpCx() = default;
    OpCx(const OpCx& o) : NoCrtAllocFail(o) { Append(o); }
    OpCx& operator=(const OpCx&) = delete;
    void Append(const OpCx& o)
    {
        for (std::size_t i = 0; i < o.Count(); ++i)
            Add(o.Entry(i));
    }
    void Add(const WString& entry) { entries_.push_back(entry); }
    std::size_t Count() const { return entries_.size(); }
    const WString& Entry(std::size_t i) const { return entries_[i]; }

private:
    NoCrtVector<WString> entries_;
};

// An exception made of a heading and a copy of an operation context. Its
// description is the heading, then each entry on its own line after "- ".
class OpEx : public OpCx, public virtual WException {
public:
    OpEx(const WString& heading, const OpCx& context);
    WView Description() const override;

private:
    WString heading_;
    mutable WString description_;
};
