#include "NoCrtRandom.h"
#include "ErrorText.h"
#include <wincrypt.h>

namespace {

const LONG kLockMarker = 0x471BC622;

volatile LONG g_marker;
CRITICAL_SECTION g_lock;
HCRYPTPROV g_provider;
LONG g_users;

// The critical section is made on first use; the marker tells that it exists.
void EnsureLock()
{
    if (InterlockedCompareExchange(&g_marker, 0, 0) != kLockMarker) {
        InitializeCriticalSection(&g_lock);
        InterlockedExchange(&g_marker, kLockMarker);
    }
}

} // namespace

NoCrtRandom::NoCrtRandom()
{
    EnsureLock();
    EnterCriticalSection(&g_lock);
    if (g_users == 0) {
        if (!CryptAcquireContextA(&g_provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
            DWORD err = GetLastError();
            LeaveCriticalSection(&g_lock);
            OpCx context;
            context.Add(L"NoCrtRandom::Init(): CryptAcquireContext() failed: " +
                        WWLib::WindowsErrorTextWithCode(err));
            throw NoCrtRandomException(L"Failed to initialize random generator, call stack:\n", context);
        }
    }
    ++g_users;
    LeaveCriticalSection(&g_lock);
}

NoCrtRandom::~NoCrtRandom()
{
    EnterCriticalSection(&g_lock);
    bool last = --g_users == 0;
    if (last) {
        CryptReleaseContext(g_provider, 0);
        g_provider = 0;
    }
    LeaveCriticalSection(&g_lock);
    if (last) {
        InterlockedExchange(&g_marker, 0);
        DeleteCriticalSection(&g_lock);
    }
}

bool NoCrtRandom::Fill(void* buf, DWORD size)
{
    EnsureLock();
    EnterCriticalSection(&g_lock);
    bool ok = g_users > 0 && CryptGenRandom(g_provider, size, static_cast<BYTE*>(buf));
    LeaveCriticalSection(&g_lock);
    return ok;
}

LONG NoCrtRandom::Users()
{
    return g_users;
}
