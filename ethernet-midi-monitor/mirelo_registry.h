#pragma once
// The driver's registry value "Ports" under its service key: bits 0-7 the
// count configured for the next start, bits 8-15 the count the driver
// installed. Also the configured count of the sibling driver Ternok30.

#include <cstdint>
#include <optional>

inline constexpr char16_t kMireloParametersKey[] = u"System\\CurrentControlSet\\Services\\Mirelo\\Parameters";
inline constexpr char16_t kTernokParametersKey[] = u"System\\CurrentControlSet\\Services\\Ternok30\\Parameters";
inline constexpr char16_t kRegistryErrorText[] = u"Registry Error:\nPlease Reinstall Mirelo\n";

// The whole value; nothing (after the registry error message) when the key
// or value cannot be read.
std::optional<uint32_t> ReadPortsValue();
// Writes configured + installed × 256. False without a message when the key
// cannot be opened for writing (no administrator rights), false after the
// registry error message when the value cannot be set.
bool WritePortsValue(uint32_t configured, uint32_t installed);
// The low byte of Ternok30's "Ports", or -1.
int ReadTernokPorts();
