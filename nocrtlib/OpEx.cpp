#include "OpEx.h"

OpEx::OpEx(const WString& heading, const OpCx& context) : OpCx(context), heading_(heading)
{
}

WView OpEx::Description() const
{
    if (description_.empty()) {
        description_ = heading_;
        if (!heading_.empty() && Count())
            description_ += L'\n';
        for (std::size_t i = 0; i < Count(); ++i) {
            if (i)
                description_ += L'\n';
            description_ += L"- ";
            description_ += Entry(i);
        }
    }
    return description_.view();
}
