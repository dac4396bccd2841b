#include "platform/win32/IniFile.h"

#include <fcntl.h>
#include <algorithm>
#include <cerrno>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/win32/Cp1251.h"

namespace win32 {

IniFile::IniFile(QString path) : path_(std::move(path)) { Reload(); }

bool IniFile::Reload() {
  readOk_ = ReadFromDisk();
  for (const Change& c : pending_) Apply(c);
  return readOk_;
}

bool IniFile::ReadFromDisk() {
  sections_.clear();
  QFile f(path_);
  if (!f.open(QIODevice::ReadOnly)) return !f.exists();
  const QByteArray bytes = f.readAll();
  if (f.error() != QFileDevice::NoError) return false;
  Section* current = nullptr;
  // CR, LF and CR LF all end a line, as the writer assumes when it keeps line breaks out
  // of values.
  QByteArray text = bytes;
  text.replace('\r', '\n');
  for (const QByteArray& raw : text.split('\n')) {
    const QString line = DecodeCp1251(raw).trimmed();
    if (line.isEmpty() || line.startsWith(';')) continue;
    if (line.startsWith('[') && line.endsWith(']')) {
      const QString name = line.mid(1, line.size() - 2).trimmed();
      current = Find(name);
      if (!current) current = &sections_.emplace_back(Section{name, {}});
      continue;
    }
    const qsizetype eq = line.indexOf('=');
    if (eq <= 0 || !current) continue;  // garbage, or a key before any section
    const QString key = line.left(eq).trimmed();
    const QString value = line.mid(eq + 1);
    auto& entries = current->entries;
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const Entry& e) { return e.key.compare(key, Qt::CaseInsensitive) == 0; });
    if (it == entries.end()) entries.push_back({key, value});
  }
  return true;
}

IniFile::Section* IniFile::Find(const QString& section) {
  for (auto& s : sections_)
    if (s.name.compare(section, Qt::CaseInsensitive) == 0) return &s;
  return nullptr;
}

const IniFile::Section* IniFile::Find(const QString& section) const {
  return const_cast<IniFile*>(this)->Find(section);
}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& fallback) const {
  if (const Section* s = Find(section))
    for (const auto& e : s->entries)
      if (e.key.compare(key, Qt::CaseInsensitive) == 0) return e.value;
  return fallback;
}

std::optional<int> IniFile::ReadInteger(const QString& section, const QString& key) const {
  if (!KeyExists(section, key)) return std::nullopt;
  bool ok = false;
  const int v = ReadString(section, key).trimmed().toInt(&ok, 10);
  if (!ok) return std::nullopt;
  return v;
}

bool IniFile::KeyExists(const QString& section, const QString& key) const {
  if (const Section* s = Find(section))
    for (const auto& e : s->entries)
      if (e.key.compare(key, Qt::CaseInsensitive) == 0) return true;
  return false;
}

QStringList IniFile::Sections() const {
  QStringList out;
  for (const auto& s : sections_) out << s.name;
  return out;
}

QStringList IniFile::Keys(const QString& section) const {
  QStringList out;
  if (const Section* s = Find(section))
    for (const auto& e : s->entries) out << e.key;
  return out;
}

bool IniFile::WriteString(const QString& section, const QString& key, const QString& value) {
  // A value never spans lines: line breaks would split it into garbage on reading.
  QString clean = value;
  clean.replace('\r', ' ').replace('\n', ' ');
  if (KeyExists(section, key) && ReadString(section, key) == clean) return lastWriteOk_;
  return Changed({Change::Set, section, key, clean});
}

bool IniFile::WriteInteger(const QString& section, const QString& key, int value) {
  return WriteString(section, key, QString::number(value));
}

bool IniFile::EraseSection(const QString& section) {
  if (!Find(section)) return lastWriteOk_;
  return Changed({Change::Erase, section, {}, {}});
}

bool IniFile::DeleteKey(const QString& section, const QString& key) {
  if (!KeyExists(section, key)) return lastWriteOk_;
  return Changed({Change::Delete, section, key, {}});
}

void IniFile::Apply(const Change& c) {
  auto sameKey = [&](const Entry& e) { return e.key.compare(c.key, Qt::CaseInsensitive) == 0; };
  Section* s = Find(c.section);
  switch (c.kind) {
    case Change::Set: {
      if (!s) s = &sections_.emplace_back(Section{c.section, {}});
      auto it = std::find_if(s->entries.begin(), s->entries.end(), sameKey);
      if (it == s->entries.end()) s->entries.push_back({c.key, c.value});
      else it->value = c.value;
      break;
    }
    case Change::Delete:
      if (s) std::erase_if(s->entries, sameKey);
      break;
    case Change::Erase:
      std::erase_if(sections_, [&](const Section& x) { return x.name.compare(c.section, Qt::CaseInsensitive) == 0; });
      break;
  }
}

bool IniFile::Changed(Change change) {
  Apply(change);
  // A change supersedes the waiting ones it overwrites, so a file that stays unwritable
  // does not make the list grow.
  auto same = [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; };
  std::erase_if(pending_, [&](const Change& old) {
    return same(old.section, change.section) && (change.kind == Change::Erase || same(old.key, change.key));
  });
  pending_.push_back(std::move(change));
  if (batchDepth_ > 0) return true;
  return Flush();
}

IniFile::Batch::~Batch() {
  if (--file_.batchDepth_ == 0 && !file_.pending_.empty()) file_.Flush();
}

bool IniFile::Flush() {
  // What could not be read is never replaced: the changes wait in memory.
  if (!Reload()) return lastWriteOk_ = false;
  QString text;
  for (const auto& s : sections_) {
    text += '[' + s.name + "]\r\n";
    for (const auto& e : s.entries) text += e.key + '=' + e.value + "\r\n";
    text += "\r\n";
  }
  QDir().mkpath(QFileInfo(path_).absolutePath());
  lastWriteOk_ = WriteFileAtomically(path_, EncodeCp1251(text));
  if (lastWriteOk_) pending_.clear();
  return lastWriteOk_;
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes) {
  const QByteArray target = QFile::encodeName(path);
  const QByteArray temp = target + ".tmp." + QByteArray::number(getpid());
  const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  qsizetype written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    written += n;
  }
  const bool ok = written == bytes.size() && ::fsync(fd) == 0;
  ::close(fd);
  if (!ok || ::rename(temp.constData(), target.constData()) != 0) {
    ::unlink(temp.constData());
    return false;
  }
  // Make the rename itself durable.
  const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
  const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

}  // namespace win32
