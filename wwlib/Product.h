#pragma once

// The product this setup program installs.
namespace Product {
constexpr const wchar_t* kName = L"Quendal";
constexpr const wchar_t* kMakerPrefix = L"Korvane ";
constexpr const wchar_t* kMaker = L"Korvane";
constexpr const wchar_t* kVersion = L"5.18";
constexpr const wchar_t* kDefaultFolder = L"Korvane Quendal";
// The names the installer and the product's uninstaller share: both build
// from this header.
// The lock that one installer, or one uninstaller run on its own, holds at a
// time on the machine (all sessions).
constexpr const wchar_t* kSetupLock = L"Global\\Korvane-Quendal-Setup";
// Its file, held in the installer's own folder beside the journals.
constexpr const wchar_t* kSetupLockFile = L"Setup.lock";
// The installer's own folder under the all users' application data: the
// journals and the lock file.
constexpr const wchar_t* kSetupFolder = L"Korvane Quendal Setup";
// The product's web page, opened from the main dialog: a deployment value.
constexpr const wchar_t* kWebAddress = L"http://www.example.com/quendal";
} // namespace Product

// The registry key under HKEY_LOCAL_MACHINE that holds one entry per
// installed program, each site's among them.
constexpr const wchar_t* kUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// The maker's own key under HKEY_LOCAL_MACHINE.
constexpr const wchar_t* kProductKey = L"SOFTWARE\\Korvane";
