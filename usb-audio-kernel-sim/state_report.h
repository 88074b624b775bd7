#pragma once
// The state dump of the control interface as a tree of named values, written
// out as readable text or as JSON. Names are given in camelCase ("traceMask");
// the text shows them as words ("trace mask").
//
// Text: a top-level value is a line "name: value"; an object is a line with
// its name and its plain values ("streaming: state Down, mode single device"),
// followed by its objects and lists, indented; a list is its name with the
// count, then one line per item.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace usbaudio_sim {

class StateReport {
 public:
  StateReport();

  // A value of the innermost open object or list (a list ignores the name).
  void add(std::string_view name, std::string_view text);
  void add(std::string_view name, const char* text) { add(name, std::string_view(text)); }
  void add(std::string_view name, const std::string& text) { add(name, std::string_view(text)); }
  void add(std::string_view name, uint64_t number);
  void add(std::string_view name, uint32_t number) { add(name, uint64_t{number}); }
  void add(std::string_view name, int64_t number);
  void add(std::string_view name, int32_t number) { add(name, int64_t{number}); }
  void addFlag(std::string_view name, bool flag);

  void openObject(std::string_view name);
  void openList(std::string_view name);
  void close();

  std::string text() const;
  std::string json() const;

  struct Node {
    enum class Kind { kText, kNumber, kFlag, kObject, kList };
    Kind kind = Kind::kObject;
    std::string name;
    std::string value;  // text, the number's digits, "true"/"false"
    std::vector<Node> children;
  };

 private:
  Node& current();
  Node& append(Node node);

  Node root_;
  std::vector<size_t> path_;  // child indices from the root to the open node
};

}  // namespace usbaudio_sim
