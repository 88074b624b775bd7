#include "usb-audio-kernel-sim/state_report.h"

#include <cstdio>

namespace usbaudio_sim {

namespace {

using Node = StateReport::Node;

bool isPlain(const Node& node) { return node.kind != Node::Kind::kObject && node.kind != Node::Kind::kList; }

// "traceMask" → "trace mask".
std::string spacedWords(std::string_view name) {
  std::string text;
  for (const char c : name) {
    if (c >= 'A' && c <= 'Z') {
      if (!text.empty()) text += ' ';
      text += static_cast<char>(c - 'A' + 'a');
    } else {
      text += c;
    }
  }
  return text;
}

std::string plainText(const Node& node) {
  if (node.kind == Node::Kind::kFlag) return node.value == "true" ? "yes" : "no";
  return node.value;
}

// The plain values of an object, "state Down, mode single device".
std::string plainMembers(const Node& object) {
  std::string line;
  for (const Node& child : object.children) {
    if (!isPlain(child)) continue;
    if (!line.empty()) line += ", ";
    line += spacedWords(child.name) + " " + plainText(child);
  }
  return line;
}

void writeText(const Node& node, int depth, std::string& out);

void writeChildren(const Node& node, int depth, std::string& out) {
  for (const Node& child : node.children) {
    if (!isPlain(child)) writeText(child, depth, out);
  }
}

void writeText(const Node& node, int depth, std::string& out) {
  const std::string indent(static_cast<size_t>(depth) * 2, ' ');
  if (node.kind == Node::Kind::kList) {
    out += indent + spacedWords(node.name) + " (" + std::to_string(node.children.size()) + "):";
    bool inline_ = true;
    for (const Node& item : node.children) inline_ = inline_ && isPlain(item);
    if (inline_) {
      for (const Node& item : node.children) out += " [" + plainText(item) + "]";
      out += "\n";
      return;
    }
    out += "\n";
    for (const Node& item : node.children) {
      if (isPlain(item)) {
        out += indent + "  " + plainText(item) + "\n";
      } else {
        out += indent + "  " + plainMembers(item) + "\n";
        writeChildren(item, depth + 2, out);
      }
    }
    return;
  }
  if (isPlain(node)) {
    out += indent + spacedWords(node.name) + ": " + plainText(node) + "\n";
    return;
  }
  const std::string members = plainMembers(node);
  out += indent + spacedWords(node.name) + ":" + (members.empty() ? "" : " " + members) + "\n";
  writeChildren(node, depth + 1, out);
}

void writeJsonString(std::string_view text, std::string& out) {
  out += '"';
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", u);
      out += escape;
    } else {
      out += c;
    }
  }
  out += '"';
}

void writeJson(const Node& node, std::string& out) {
  switch (node.kind) {
    case Node::Kind::kText:
      writeJsonString(node.value, out);
      return;
    case Node::Kind::kNumber:
    case Node::Kind::kFlag:
      out += node.value;
      return;
    case Node::Kind::kObject:
    case Node::Kind::kList: {
      const bool object = node.kind == Node::Kind::kObject;
      out += object ? '{' : '[';
      for (size_t i = 0; i < node.children.size(); ++i) {
        if (i > 0) out += ',';
        if (object) {
          writeJsonString(node.children[i].name, out);
          out += ':';
        }
        writeJson(node.children[i], out);
      }
      out += object ? '}' : ']';
      return;
    }
  }
}

}  // namespace

StateReport::StateReport() { root_.kind = Node::Kind::kObject; }

Node& StateReport::current() {
  Node* node = &root_;
  for (const size_t index : path_) node = &node->children[index];
  return *node;
}

Node& StateReport::append(Node node) {
  Node& parent = current();
  parent.children.push_back(std::move(node));
  return parent.children.back();
}

void StateReport::add(std::string_view name, std::string_view text) {
  append({Node::Kind::kText, std::string(name), std::string(text), {}});
}

void StateReport::add(std::string_view name, uint64_t number) {
  append({Node::Kind::kNumber, std::string(name), std::to_string(number), {}});
}

void StateReport::add(std::string_view name, int64_t number) {
  append({Node::Kind::kNumber, std::string(name), std::to_string(number), {}});
}

void StateReport::addFlag(std::string_view name, bool flag) {
  append({Node::Kind::kFlag, std::string(name), flag ? "true" : "false", {}});
}

void StateReport::openObject(std::string_view name) {
  append({Node::Kind::kObject, std::string(name), {}, {}});
  path_.push_back(current().children.size() - 1);
}

void StateReport::openList(std::string_view name) {
  append({Node::Kind::kList, std::string(name), {}, {}});
  path_.push_back(current().children.size() - 1);
}

void StateReport::close() {
  if (!path_.empty()) path_.pop_back();
}

std::string StateReport::text() const {
  std::string out;
  writeChildren(root_, 0, out);
  for (const Node& child : root_.children) {
    if (isPlain(child)) out += spacedWords(child.name) + ": " + plainText(child) + "\n";
  }
  return out;
}

std::string StateReport::json() const {
  std::string out;
  writeJson(root_, out);
  out += "\n";
  return out;
}

}  // namespace usbaudio_sim
