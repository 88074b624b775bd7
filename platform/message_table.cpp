#include "platform/message_table.h"

#include <elf.h>

#include <cstring>
#include <fstream>

#include "platform/errors.h"
#include "platform/text.h"

namespace platform {

namespace {

constexpr char kSectionName[] = ".wn_messages";

bool readAt(std::ifstream& file, uint64_t offset, void* buffer, size_t size) {
  file.seekg(static_cast<std::streamoff>(offset));
  file.read(static_cast<char*>(buffer), static_cast<std::streamsize>(size));
  return static_cast<size_t>(file.gcount()) == size;
}

// Finds the section's file range; false when the file has no such section.
bool findSection(std::ifstream& file, const Elf64_Ehdr& header, uint64_t* offset, uint64_t* size, uint32_t* error) {
  *error = ERROR_INVALID_DATA;
  if (header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shstrndx >= header.e_shnum) return false;
  std::vector<Elf64_Shdr> sections(header.e_shnum);
  if (!readAt(file, header.e_shoff, sections.data(), sections.size() * sizeof(Elf64_Shdr))) return false;
  const Elf64_Shdr& names = sections[header.e_shstrndx];
  if (names.sh_size > (1u << 24)) return false;
  std::string nameTable(names.sh_size, '\0');
  if (!readAt(file, names.sh_offset, nameTable.data(), nameTable.size())) return false;
  *error = 0;
  for (const Elf64_Shdr& section : sections) {
    if (section.sh_name >= nameTable.size() || std::strcmp(nameTable.c_str() + section.sh_name, kSectionName) != 0) {
      continue;
    }
    if (section.sh_type != SHT_PROGBITS) {
      *error = ERROR_INVALID_DATA;
      return false;
    }
    *offset = section.sh_offset;
    *size = section.sh_size;
    return true;
  }
  return false;
}

}  // namespace

uint32_t loadMessageTable(const std::string& modulePath, std::vector<Message>& messages) {
  messages.clear();
  std::ifstream file(modulePath, std::ios::binary);
  if (!file) return ERROR_FILE_NOT_FOUND;
  Elf64_Ehdr header{};
  if (!readAt(file, 0, &header, sizeof header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB) {
    return ERROR_INVALID_DATA;
  }
  uint64_t offset = 0;
  uint64_t size = 0;
  uint32_t error = 0;
  if (!findSection(file, header, &offset, &size, &error)) return error;
  if (size > (1u << 24)) return ERROR_INVALID_DATA;
  std::vector<uint8_t> bytes(size);
  if (!readAt(file, offset, bytes.data(), bytes.size())) return ERROR_INVALID_DATA;
  for (size_t at = 0; at + sizeof(uint32_t) <= bytes.size();) {
    uint32_t magic;
    std::memcpy(&magic, bytes.data() + at, sizeof magic);
    if (magic == 0) {  // alignment between two tables
      at += sizeof magic;
      continue;
    }
    if (magic != kMessageTableMagic || at + sizeof(MessageTableEntry) > bytes.size()) return ERROR_INVALID_DATA;
    MessageTableEntry entry;
    std::memcpy(&entry, bytes.data() + at, sizeof entry);
    messages.push_back({entry.id, entry.language, std::u16string(entry.text, wideLength(entry.text, kMessageTextCapacity))});
    at += sizeof entry;
  }
  return 0;
}

std::u16string formatMessageText(std::u16string_view text, const std::vector<std::u16string>& inserts) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'%' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    const char16_t next = text[i + 1];
    if (next >= u'1' && next <= u'9') {
      size_t end = i + 2;
      unsigned number = next - u'0';
      if (end < text.size() && text[end] >= u'0' && text[end] <= u'9') number = number * 10 + (text[end++] - u'0');
      if (end < text.size() && text[end] == u'!') {
        const size_t close = text.find(u'!', end + 1);
        if (close != std::u16string_view::npos) end = close + 1;
      }
      if (number <= inserts.size()) {
        out += inserts[number - 1];
      } else {
        out += text.substr(i, end - i);
      }
      i = end - 1;
      continue;
    }
    switch (next) {
      case u'0':
        return out;
      case u'n':
        out += u"\r\n";
        break;
      case u'r':
        out += u'\r';
        break;
      case u't':
        out += u'\t';
        break;
      default:
        out += next;  // %% %. %! "% " and anything else: the character itself
        break;
    }
    ++i;
  }
  return out;
}

}  // namespace platform
