#pragma once
// The tool's registry file: UTF-8 text close to the familiar .reg form.
//
//   WN Registry File 1.0
//
//   [HKEY_LOCAL_MACHINE\Software\X]
//   @="default value"
//   "Text"="with \\ and \" escaped"
//   "Path"=expand:"%ROOT%\\bin"
//   "List"=multi:"one","two"
//   "Count"=dword:0000002a
//   "Big"=qword:0000000100000000
//   "Blob"=hex:01,02,ff
//   "Other"=hex(0):01      (any type as raw bytes; a line may go on after a trailing \)
//   "Old"=-                (deletes the value)
//   [-HKEY_LOCAL_MACHINE\Software\Old]   (deletes the key tree)
//
// Lines starting with ';' are comments. Data that the readable forms cannot
// carry exactly (line breaks, embedded terminators, odd sizes) is written as
// hex(type) bytes, so an export always imports back unchanged.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/reg/reg_data.h"

namespace regtool {

inline constexpr const char* kFileHeader = "WN Registry File 1.0";

// The text of `key` and everything below it. Returns a system error code.
uint32_t exportKey(const KeyPath& key, std::string& text);

struct ImportOperation {
  enum class Kind { CreateKey, DeleteKeyTree, SetValue, DeleteValue };
  Kind kind = Kind::CreateKey;
  int line = 0;
  KeyPath key;  // CreateKey, DeleteKeyTree
  std::u16string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

// Parses a whole file. On failure `error` names the line and the problem.
bool parseImport(std::string_view text, std::vector<ImportOperation>& operations, std::string& error);

// Applies parsed operations in one transaction: all of them or none.
// On failure `error` names the line that could not be applied.
uint32_t applyImport(const std::vector<ImportOperation>& operations, std::string& error);

}  // namespace regtool
