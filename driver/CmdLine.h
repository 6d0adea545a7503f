#pragma once
#include "../nocrtlib/NoCrtVector.h"
#include "../nocrtlib/WException.h"
#include "../nocrtlib/datavect.h"
#include <cstdint>
#include <map>

// One positional parameter, or one distinct option name.
struct CmdLineArg {
    std::uint32_t start = 0, end = 0; // the token's character offsets in the text
    bool used = false;
    WString text;  // unescaped parameter, or the option's name
    bool hasValue = false;
    WString value;
};

// A command line split into positional parameters and options ("-name",
// "/name", "-name=value"); option names compare without regard to case.
// Queries mark what they consume, so that CheckAllUsed can report the rest.
class CmdLine {
public:
    class Err : public WStrException {
    public:
        explicit Err(const WString& msg) : WStrException(msg) {}
    };

    explicit CmdLine(const WString& text);
    virtual ~CmdLine() = default;
    CmdLine(const CmdLine&) = delete;
    CmdLine& operator=(const CmdLine&) = delete;

    // True when the option exists and was written without "=".
    bool Flag(const wchar_t* name, bool markUsed);
    // True when the option exists and was written with "="; copies its value.
    bool Value(const wchar_t* name, WString& out);
    bool FirstOption(WString& name, bool& hasValue, WString& value);
    bool NextOption(WString& name, bool& hasValue, WString& value);
    bool IsHelp();
    // Throws Err naming every parameter and option no query consumed.
    void CheckAllUsed() const;

    std::size_t ParameterCount() const { return params_.size(); }
    const CmdLineArg& Parameter(std::size_t i) const { return args_[params_[i]]; }
    std::size_t OptionCount() const { return index_.size(); }

private:
    struct NoCaseLess {
        bool operator()(const WString& a, const WString& b) const;
    };
    using Index = std::map<WString, std::size_t, NoCaseLess>;

    void Tokenize();
    void AddToken(std::size_t start, std::size_t end);
    WString Unescape(std::size_t start, std::size_t end) const;
    CmdLineArg* Find(const wchar_t* name);
    bool TakeAtCursor(WString& name, bool& hasValue, WString& value);

    std::uint32_t flags_ = 7;
    WString text_;
    NoCrtDataVect<std::size_t> params_;
    NoCrtVector<CmdLineArg> args_;
    Index index_;
    Index::const_iterator cursor_;
};
