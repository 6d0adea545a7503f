#pragma once
// The COM class of the configuration tool, one for the machine whatever the
// number of sites: the tool registers it and the uninstaller hands it on.
namespace Package {

constexpr const wchar_t kCfgClsid[] = L"{6B1E4C2A-0D47-4E55-9A3B-5D2F1C8E7A01}";
constexpr const wchar_t kCfgProgId[] = L"Quendal.CfgManip";
constexpr const wchar_t kCfgName[] = L"Quendal Configuration Manipulator";

} // namespace Package
