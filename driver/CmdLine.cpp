#include "CmdLine.h"
#include <cwchar>

bool CmdLine::NoCaseLess::operator()(const WString& a, const WString& b) const
{
    return _wcsicmp(a.c_str(), b.c_str()) < 0;
}

CmdLine::CmdLine(const WString& text) : text_(text)
{
    Tokenize();
    cursor_ = index_.end();
}

void CmdLine::Tokenize()
{
    std::size_t len = text_.size();
    std::size_t start = 0;
    bool inQuotes = false;
    for (std::size_t i = 0; i < len; ++i) {
        wchar_t c = text_[i];
        if (c == L'"') {
            if (i > start) {
                std::size_t slashes = 0;
                for (std::size_t j = i; j > start && text_[j - 1] == L'\\'; --j)
                    ++slashes;
                if (slashes % 2)
                    continue; // an escaped quote is part of the token
            }
            inQuotes = !inQuotes;
            continue;
        }
        if (!inQuotes && (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n')) {
            if (i > start)
                AddToken(start, i);
            start = i + 1;
        }
    }
    if (len > start)
        AddToken(start, len);
}

// Backslashes: two in a row become one, a single one stays, one before a quote
// makes the quote literal. Quotes are dropped, except that a quote right after
// a dropped closing quote is a literal one ("a""b" gives a"b; "" gives nothing).
WString CmdLine::Unescape(std::size_t start, std::size_t end) const
{
    WString out;
    out.reserve(end - start);
    bool copiedBackslash = false;
    bool droppedClosingQuote = false;
    bool inQuotes = false;
    for (std::size_t i = start; i < end; ++i) {
        wchar_t c = text_[i];
        if (c == L'\\') {
            if (copiedBackslash) {
                copiedBackslash = false;
            } else {
                out += c;
                copiedBackslash = true;
            }
            droppedClosingQuote = false;
        } else if (c == L'"') {
            if (copiedBackslash) {
                out[out.size() - 1] = L'"';
                copiedBackslash = false;
            } else if (droppedClosingQuote) {
                out += L'"';
                droppedClosingQuote = false;
            } else {
                inQuotes = !inQuotes;
                droppedClosingQuote = !inQuotes;
            }
        } else {
            out += c;
            copiedBackslash = false;
            droppedClosingQuote = false;
        }
    }
    return out;
}

void CmdLine::AddToken(std::size_t start, std::size_t end)
{
    WString token = Unescape(start, end);
    if (token.empty())
        return;
    bool option = token.size() > 1 && (token[0] == L'-' || token[0] == L'/');
    if (!option) {
        CmdLineArg& arg = args_.emplace_back();
        arg.start = static_cast<std::uint32_t>(start);
        arg.end = static_cast<std::uint32_t>(end);
        arg.text = token;
        std::size_t index = args_.size() - 1;
        params_.push_back(index);
        return;
    }
    std::size_t eq = token.find(L'=');
    WString name = token.substr(1, eq == WString::npos ? WString::npos : eq - 1);
    bool hasValue = eq != WString::npos;
    WString value = hasValue ? token.substr(eq + 1) : WString();
    auto found = index_.find(name);
    CmdLineArg* arg;
    if (found == index_.end()) {
        arg = &args_.emplace_back();
        arg->text = name;
        index_.emplace(name, args_.size() - 1);
    } else {
        arg = &args_[found->second];
    }
    arg->start = static_cast<std::uint32_t>(start);
    arg->end = static_cast<std::uint32_t>(end);
    arg->hasValue = hasValue;
    arg->value = value;
}

CmdLineArg* CmdLine::Find(const wchar_t* name)
{
    auto found = index_.find(WString(name));
    return found == index_.end() ? nullptr : &args_[found->second];
}

bool CmdLine::Flag(const wchar_t* name, bool markUsed)
{
    CmdLineArg* arg = Find(name);
    if (!arg || arg->hasValue)
        return false;
    if (markUsed)
        arg->used = true;
    return true;
}

bool CmdLine::Value(const wchar_t* name, WString& out)
{
    CmdLineArg* arg = Find(name);
    if (!arg || !arg->hasValue)
        return false;
    out = arg->value;
    arg->used = true;
    return true;
}

bool CmdLine::TakeAtCursor(WString& name, bool& hasValue, WString& value)
{
    if (cursor_ == index_.end())
        return false;
    const CmdLineArg& arg = args_[cursor_->second];
    name = arg.text;
    hasValue = arg.hasValue;
    value = arg.value;
    ++cursor_;
    return true;
}

bool CmdLine::FirstOption(WString& name, bool& hasValue, WString& value)
{
    cursor_ = index_.begin();
    return TakeAtCursor(name, hasValue, value);
}

bool CmdLine::NextOption(WString& name, bool& hasValue, WString& value)
{
    return TakeAtCursor(name, hasValue, value);
}

bool CmdLine::IsHelp()
{
    return Flag(L"?", false) || Flag(L"h", false) || Flag(L"help", false);
}

void CmdLine::CheckAllUsed() const
{
    WString msg;
    auto line = [&msg](const WString& text) {
        if (!msg.empty())
            msg += L"\n";
        msg += text;
    };
    for (std::size_t i = 1; i < params_.size(); ++i) {
        const CmdLineArg& arg = args_[params_[i]];
        if (!arg.used)
            line(L"Unexpected command option: " + arg.text + L".");
    }
    for (const auto& entry : index_) {
        const CmdLineArg& arg = args_[entry.second];
        if (arg.used)
            continue;
        WString text = L"Unexpected command parameter: -" + arg.text;
        if (arg.hasValue)
            text += L"=" + arg.value;
        line(text + L".");
    }
    if (!msg.empty())
        throw Err(msg);
}
