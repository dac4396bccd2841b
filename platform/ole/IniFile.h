#pragma once
// An INI file kept in memory in its own order: sections of key=value lines. Saving writes a
// temporary file beside the target and renames it over the target, so a reader never sees a
// half-written file. Text is taken as bytes (the registry holds only ASCII).

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ole {

class IniFile {
 public:
  // A missing file reads as an empty one; false only when the file exists but cannot be read.
  bool Load(const std::string& path);
  bool Save(const std::string& path) const;

  std::optional<std::string> Value(const std::string& section, const std::string& key) const;
  void SetValue(const std::string& section, const std::string& key, const std::string& value);
  bool HasSection(const std::string& section) const;
  // All keys of a section in file order; empty when the section is missing.
  std::vector<std::pair<std::string, std::string>> Section(const std::string& section) const;
  std::vector<std::string> SectionNames() const;
  bool RemoveSection(const std::string& section);

  std::string ToText() const;
  void FromText(const std::string& text);

 private:
  struct Group {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
  };
  Group* Find(const std::string& section);
  const Group* Find(const std::string& section) const;
  std::vector<Group> groups_;
};

}  // namespace ole
