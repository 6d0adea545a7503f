#pragma once
#include "OperationWithRollback.h"
#include "../nocrtlib/NoCrtString.h"

// Registers a COM server: an executable by running it with "/RegServer", a
// DLL by calling its DllRegisterServer; rollback unregisters it the same way.
// A failure goes to the step policy (111).
class RegisterServer : public OperationWithRollback {
public:
    explicit RegisterServer(const WString& serverPath);
    ~RegisterServer();
    bool Registered() const { return registered; }

private:
    WString serverPath;
    bool registered = false;
};

// Adds a value under the machine's Run key so that a program starts at every
// logon; rollback deletes it. A failure goes to the step policy (111).
class RegisterAutoRun : public OperationWithRollback {
public:
    RegisterAutoRun(const WString& valueName, const WString& commandLine);
    ~RegisterAutoRun();

private:
    WString valueName;
    WString keyPath;
    bool registered = false;
};
