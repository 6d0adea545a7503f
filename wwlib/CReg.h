#pragma once
#include "BaseException.h"
#include "../nocrtlib/NoCrtVector.h"
#include <windows.h>

namespace WWLib {

using WStringList = NoCrtVector<WString>;

// The root key named by the text before a path's first backslash ("HKLM",
// "HKEY_LOCAL_MACHINE", ...; ASCII case ignored); null for any other text.
HKEY RegRootFromName(const wchar_t* name, std::size_t len);

// How a registry class names its key: a root and a subkey, a subkey under
// HKEY_LOCAL_MACHINE, or one path text that begins with the root's name.
struct RegKeyName {
    RegKeyName(HKEY r, const WString& sub) : root(r), subkey(sub) {}
    RegKeyName(const wchar_t* subUnderLocalMachine) : root(HKEY_LOCAL_MACHINE), subkey(subUnderLocalMachine) {}
    RegKeyName(const WString& subUnderLocalMachine) : root(HKEY_LOCAL_MACHINE), subkey(subUnderLocalMachine) {}
    static RegKeyName Path(const WString& path);

    HKEY root;
    WString subkey;
};

// The registry classes each do one thing in their constructor and close their
// key in their destructor. F = 1: a failure throws RegException from the
// constructor. F = 0: the failure is recorded; the caller asks Failed().
// Every operation is skipped once the object has failed.
template <int F, int G = 0>
class CReg : public CWinApiBase<F> {
public:
    ~CReg() override
    {
        if (open_)
            RegCloseKey(key_);
    }
    CReg(const CReg&) = delete;
    CReg& operator=(const CReg&) = delete;

    HKEY Key() const { return key_; }
    bool IsOpen() const { return open_; }
    HKEY Root() const { return root_; }
    const WString& Subkey() const { return subkey_; }

protected:
    explicit CReg(const RegKeyName& name) : root_(name.root), subkey_(name.subkey) {}

    // Records a call's result; throws for F = 1.
    bool Check(LONG result, const wchar_t* operation)
    {
        if (this->SetResult(static_cast<unsigned long>(result), operation))
            return true;
        if (F)
            throw RegException(*this);
        return false;
    }

    void DoOpen(REGSAM access)
    {
        if (this->Failed())
            return;
        HKEY key = nullptr;
        LONG r = RegOpenKeyExW(root_, subkey_.empty() ? nullptr : subkey_.c_str(), 0, access, &key);
        if (r == ERROR_SUCCESS) {
            key_ = key;
            open_ = true;
        }
        Check(r, L"RegOpenKeyExW()");
    }

    void DoCreate(REGSAM access)
    {
        if (this->Failed())
            return;
        HKEY key = nullptr;
        DWORD disposition = 0;
        LONG r = RegCreateKeyExW(root_, subkey_.c_str(), 0, nullptr, 0, access, nullptr, &key, &disposition);
        if (r == ERROR_SUCCESS) {
            key_ = key;
            open_ = true;
            created_ = disposition == REG_CREATED_NEW_KEY;
        }
        Check(r, L"RegCreateKeyExW()");
    }

    // Reads a value's raw data, checked for an accepted type and a closing nul.
    // Returns the data as characters (without the closing nul) and its type.
    bool ReadRaw(const WString& valueName, DWORD accept1, DWORD accept2, NoCrtDataVect<wchar_t>& chars)
    {
        if (this->Failed())
            return false;
        const wchar_t* name = valueName.empty() ? nullptr : valueName.c_str();
        DWORD size = 0;
        if (!Check(RegQueryValueExW(key_, name, nullptr, &type_, nullptr, &size), L"RegQueryValueExW()"))
            return false;
        if (type_ != accept1 && type_ != accept2)
            return Check(ERROR_INVALID_DATATYPE, L"RegQueryValueExW()");
        NoCrtDataVect<BYTE> bytes;
        bytes.resize(size);
        if (!Check(RegQueryValueExW(key_, name, nullptr, &type_, bytes.data(), &size), L"RegQueryKeyEx()"))
            return false;
        bytes.resize(size);
        std::size_t n = (size & ~1ul) / sizeof(wchar_t);
        chars.clear();
        if (n == 0)
            return true;
        chars.assign(reinterpret_cast<const wchar_t*>(bytes.data()), n);
        if (chars[n - 1] != L'\0')
            return Check(ERROR_INVALID_DATA, L"RegQueryValueExW()");
        return true;
    }

    HKEY root_;
    WString subkey_;
    bool open_ = false;
    HKEY key_ = nullptr;
    DWORD type_ = 0;
    bool created_ = false;
};

// Opens a key with the access the caller asks for.
template <int F, int G = 0>
class CRegOpen : public CReg<F, G> {
public:
    CRegOpen(const RegKeyName& name, REGSAM access) : CReg<F, G>(name) { this->DoOpen(access); }
};

// Creates a key, or opens an existing one. Flag 1 asks for KEY_SET_VALUE;
// flag 0 takes the access from the caller.
template <int F, int G = 0>
class CRegCreate : public CReg<F, G> {
public:
    explicit CRegCreate(const RegKeyName& name, REGSAM access = KEY_SET_VALUE)
        : CReg<F, G>(name)
    {
        this->DoCreate(access);
    }
    // True when this object created the key rather than opening it.
    bool Created() const { return this->created_; }
};

// Reads one REG_SZ or REG_EXPAND_SZ value (expanded) into a string, or one
// REG_MULTI_SZ value into a list. An empty value name reads the default value.
// On failure the output is left as it was.
template <int F, int G = 0>
class CRegRead : public CRegOpen<F, G> {
public:
    CRegRead(const RegKeyName& name, const WString& valueName, WString& out)
        : CRegOpen<F, G>(name, KEY_QUERY_VALUE)
    {
        NoCrtDataVect<wchar_t> chars;
        if (!this->ReadRaw(valueName, REG_SZ, REG_EXPAND_SZ, chars))
            return;
        if (chars.empty()) {
            out.clear();
            return;
        }
        if (this->type_ == REG_EXPAND_SZ) {
            DWORD len = ExpandEnvironmentStringsW(chars.data(), nullptr, 0);
            if (!len) {
                this->Check(static_cast<LONG>(GetLastError()), L"ExpandEnvironmentStringsW()");
                return;
            }
            WString expanded;
            expanded.resize(len + 2);
            if (!ExpandEnvironmentStringsW(chars.data(), expanded.buffer(), len + 1)) {
                this->Check(static_cast<LONG>(GetLastError()), L"ExpandEnvironmentStringsW()");
                return;
            }
            expanded.trimAtNul();
            out = expanded;
            return;
        }
        out.assign(chars.data());
    }

    CRegRead(const RegKeyName& name, const WString& valueName, WStringList& out)
        : CRegOpen<F, G>(name, KEY_QUERY_VALUE)
    {
        NoCrtDataVect<wchar_t> chars;
        if (!this->ReadRaw(valueName, REG_MULTI_SZ, REG_MULTI_SZ, chars))
            return;
        out.clear();
        std::size_t n = chars.size();
        if (n >= 2 && chars[n - 2] == L'\0')
            --n; // the list's own closing nul
        // A lone nul is the empty list, also when it came with its closing
        // nul (two nuls): that is how an empty list is written.
        if (n <= 1)
            return;
        for (std::size_t pos = 0; pos < n;) {
            WString entry(chars.data() + pos);
            pos += entry.size() + 1;
            out.push_back(entry);
        }
    }
};

// Creates (or opens) a key and writes one value: REG_SZ, REG_MULTI_SZ or
// REG_DWORD. An empty value name writes the default value.
template <int F, int G = 0>
class CRegWrite : public CRegCreate<F, G> {
public:
    CRegWrite(const RegKeyName& name, const WString& valueName, const WString& text)
        : CRegCreate<F, G>(name, KEY_SET_VALUE)
    {
        Set(valueName, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    }

    CRegWrite(const RegKeyName& name, const WString& valueName, const WStringList& list)
        : CRegCreate<F, G>(name, KEY_SET_VALUE)
    {
        NoCrtDataVect<wchar_t> data;
        for (std::size_t i = 0; i < list.size(); ++i)
            data.insert(data.size(), list[i].c_str(), list[i].size() + 1);
        static const wchar_t nul = L'\0';
        data.push_back(nul);
        if (list.empty())
            data.push_back(nul); // an empty list is stored as two nuls
        Set(valueName, REG_MULTI_SZ, data.data(), data.size() * sizeof(wchar_t));
    }

    CRegWrite(const RegKeyName& name, const WString& valueName, DWORD number)
        : CRegCreate<F, G>(name, KEY_SET_VALUE)
    {
        Set(valueName, REG_DWORD, &number, sizeof(number));
    }

private:
    void Set(const WString& valueName, DWORD type, const void* data, std::size_t bytes)
    {
        if (this->Failed())
            return;
        this->Check(RegSetValueExW(this->key_, valueName.empty() ? nullptr : valueName.c_str(), 0, type,
                                   static_cast<const BYTE*>(data), static_cast<DWORD>(bytes)),
                    L"RegSetValueExW()");
    }
};

// Deletes one value; a missing value is a failure (code 2).
template <int F, int G = 0>
class CRegDeleteValue : public CRegOpen<F, G> {
public:
    CRegDeleteValue(const RegKeyName& name, const WString& valueName) : CRegOpen<F, G>(name, KEY_SET_VALUE)
    {
        if (this->Failed())
            return;
        this->Check(RegDeleteValueW(this->key_, valueName.empty() ? nullptr : valueName.c_str()),
                    L"RegDeleteValueW()");
    }
};

// Opens a key for listing; List appends the names of its direct subkeys.
template <int F, int G = 0>
class CRegList : public CRegOpen<F, G> {
public:
    explicit CRegList(const RegKeyName& name) : CRegOpen<F, G>(name, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS) {}

    void List(WStringList& out)
    {
        if (this->Failed())
            return;
        DWORD count = 0, longest = 0;
        if (!this->Check(RegQueryInfoKeyW(this->key_, nullptr, nullptr, nullptr, &count, &longest, nullptr,
                                          nullptr, nullptr, nullptr, nullptr, nullptr),
                         L"RegQueryInfoKeyW()"))
            return;
        DWORD room = (longest > 260 ? longest : 260) + 10;
        WString name;
        name.resize(room + 1);
        out.reserve(out.size() + count);
        for (DWORD index = 0;; ++index) {
            DWORD len = room;
            LONG r = RegEnumKeyExW(this->key_, index, name.buffer(), &len, nullptr, nullptr, nullptr, nullptr);
            if (r == ERROR_NO_MORE_ITEMS)
                return;
            if (!this->Check(r, L"RegEnumKeyExW()"))
                return;
            out.push_back(WString(name.c_str(), len));
        }
    }
};

} // namespace WWLib

namespace WWLib {

// Deletes a key with all its subkeys (works where RegDeleteTree is missing).
// Returns the result of deleting the key itself; a missing key gives 2.
LONG RegDeleteKeyTree(HKEY root, const WString& subkey);

} // namespace WWLib
