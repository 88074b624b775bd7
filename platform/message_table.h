#pragma once
// Message tables: the texts a program carries for its message identifiers
// (the event log shows an event's text from the table of the module its
// source names). A program declares its table with WN_MESSAGE_TABLE; the
// entries land in the ELF section ".wn_messages" of the program file, where
// another process reads them back without running the program.
//
//   WN_MESSAGE_TABLE(kMessages) = {
//       platform::message(0x60070001, u"%1\r\n"),
//   };

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr uint32_t kMessageTableMagic = 0x544D4E57;  // "WNMT"
inline constexpr size_t kMessageTextCapacity = 256;           // characters, terminator included

struct MessageTableEntry {
  uint32_t magic;     // kMessageTableMagic
  uint32_t id;        // the message identifier (an event identifier)
  uint32_t language;  // 1033: English (United States)
  char16_t text[kMessageTextCapacity];
  uint32_t reserved;  // 0
};
static_assert(sizeof(MessageTableEntry) == 528);

// One entry of a table; the text is checked against the capacity at compile time.
template <size_t N>
constexpr MessageTableEntry message(uint32_t id, const char16_t (&text)[N], uint32_t language = 1033) {
  static_assert(N <= kMessageTextCapacity, "message text too long");
  MessageTableEntry entry{kMessageTableMagic, id, language, {}, 0};
  for (size_t i = 0; i < N; ++i) entry.text[i] = text[i];
  return entry;
}

// The tables of several files of a program follow each other in the section,
// possibly with zero bytes of alignment between them.
#define WN_MESSAGE_TABLE(name) \
  [[gnu::section(".wn_messages"), gnu::used]] const ::platform::MessageTableEntry name[]

struct Message {
  uint32_t id = 0;
  uint32_t language = 0;
  std::u16string text;
};

// Reads the message table of a program or shared library file. 0 (an empty
// list when the file carries none), 2 when the file is missing, 13 when it is
// no ELF file or its table is malformed.
uint32_t loadMessageTable(const std::string& modulePath, std::vector<Message>& messages);

// Puts insertion strings into a message text: %1 to %99 (an optional !format!
// after the number is skipped) take the strings, %n is a line break (\r\n),
// %r a carriage return, %t a tab, %% %. %! and "% " their character, %0 ends
// the text. A number without string stays as written.
std::u16string formatMessageText(std::u16string_view text, const std::vector<std::u16string>& inserts);

}  // namespace platform
