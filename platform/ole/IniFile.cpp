#include "platform/ole/IniFile.h"

#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <sstream>

namespace ole {
namespace {

std::string Trim(const std::string& s) {
  auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

}  // namespace

bool IniFile::Load(const std::string& path) {
  groups_.clear();
  QFile file(QString::fromStdString(path));
  if (!file.exists()) return true;
  if (!file.open(QIODevice::ReadOnly)) return false;
  FromText(file.readAll().toStdString());
  return true;
}

bool IniFile::Save(const std::string& path) const {
  QSaveFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly)) return false;
  const std::string text = ToText();
  if (file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size())) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

void IniFile::FromText(const std::string& text) {
  groups_.clear();
  std::istringstream in(text);
  std::string line;
  Group* current = nullptr;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      std::string name = line.substr(1, line.size() - 2);
      current = Find(name);
      if (!current) {
        groups_.push_back({name, {}});
        current = &groups_.back();
      }
      continue;
    }
    auto eq = line.find('=');
    if (!current || eq == std::string::npos) continue;
    std::string key = Trim(line.substr(0, eq));
    std::string value = Trim(line.substr(eq + 1));
    auto it = std::find_if(current->entries.begin(), current->entries.end(),
                           [&](const auto& e) { return e.first == key; });
    if (it != current->entries.end())
      it->second = value;
    else
      current->entries.emplace_back(key, value);
  }
}

std::string IniFile::ToText() const {
  std::string out;
  for (const auto& g : groups_) {
    if (!out.empty()) out += '\n';
    out += '[' + g.name + "]\n";
    for (const auto& [k, v] : g.entries) out += k + '=' + v + '\n';
  }
  return out;
}

IniFile::Group* IniFile::Find(const std::string& section) {
  for (auto& g : groups_)
    if (g.name == section) return &g;
  return nullptr;
}

const IniFile::Group* IniFile::Find(const std::string& section) const {
  for (const auto& g : groups_)
    if (g.name == section) return &g;
  return nullptr;
}

std::optional<std::string> IniFile::Value(const std::string& section, const std::string& key) const {
  if (const Group* g = Find(section))
    for (const auto& [k, v] : g->entries)
      if (k == key) return v;
  return std::nullopt;
}

void IniFile::SetValue(const std::string& section, const std::string& key, const std::string& value) {
  Group* g = Find(section);
  if (!g) {
    groups_.push_back({section, {}});
    g = &groups_.back();
  }
  for (auto& [k, v] : g->entries) {
    if (k == key) {
      v = value;
      return;
    }
  }
  g->entries.emplace_back(key, value);
}

bool IniFile::HasSection(const std::string& section) const { return Find(section) != nullptr; }

std::vector<std::pair<std::string, std::string>> IniFile::Section(const std::string& section) const {
  if (const Group* g = Find(section)) return g->entries;
  return {};
}

std::vector<std::string> IniFile::SectionNames() const {
  std::vector<std::string> names;
  for (const auto& g : groups_) names.push_back(g.name);
  return names;
}

bool IniFile::RemoveSection(const std::string& section) {
  auto it = std::find_if(groups_.begin(), groups_.end(), [&](const Group& g) { return g.name == section; });
  if (it == groups_.end()) return false;
  groups_.erase(it);
  return true;
}

}  // namespace ole
