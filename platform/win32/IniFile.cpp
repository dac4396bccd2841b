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
  sections_.clear();
  QFile f(path_);
  readOk_ = true;
  if (!f.open(QIODevice::ReadOnly)) {
    readOk_ = !f.exists();
    return readOk_;
  }
  const QByteArray bytes = f.readAll();
  Section* current = nullptr;
  for (const QByteArray& raw : bytes.split('\n')) {
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
  Section* s = Find(section);
  if (!s) s = &sections_.emplace_back(Section{section, {}});
  // A value never spans lines: line breaks would split it into garbage on reading.
  QString clean = value;
  clean.replace('\r', ' ').replace('\n', ' ');
  for (auto& e : s->entries) {
    if (e.key.compare(key, Qt::CaseInsensitive) == 0) {
      if (e.value == clean) return lastWriteOk_;
      e.value = clean;
      return Changed();
    }
  }
  s->entries.push_back({key, clean});
  return Changed();
}

bool IniFile::WriteInteger(const QString& section, const QString& key, int value) {
  return WriteString(section, key, QString::number(value));
}

bool IniFile::EraseSection(const QString& section) {
  auto it = std::find_if(sections_.begin(), sections_.end(), [&](const Section& s) {
    return s.name.compare(section, Qt::CaseInsensitive) == 0;
  });
  if (it == sections_.end()) return lastWriteOk_;
  sections_.erase(it);
  return Changed();
}

bool IniFile::DeleteKey(const QString& section, const QString& key) {
  Section* s = Find(section);
  if (!s) return lastWriteOk_;
  auto& entries = s->entries;
  auto it = std::find_if(entries.begin(), entries.end(),
                         [&](const Entry& e) { return e.key.compare(key, Qt::CaseInsensitive) == 0; });
  if (it == entries.end()) return lastWriteOk_;
  entries.erase(it);
  return Changed();
}

bool IniFile::Changed() {
  dirty_ = true;
  if (batchDepth_ > 0) return true;
  return Flush();
}

IniFile::Batch::~Batch() {
  if (--file_.batchDepth_ == 0 && file_.dirty_) file_.Flush();
}

bool IniFile::Flush() {
  QString text;
  for (const auto& s : sections_) {
    text += '[' + s.name + "]\r\n";
    for (const auto& e : s.entries) text += e.key + '=' + e.value + "\r\n";
    text += "\r\n";
  }
  QDir().mkpath(QFileInfo(path_).absolutePath());
  lastWriteOk_ = WriteFileAtomically(path_, EncodeCp1251(text));
  if (lastWriteOk_) dirty_ = false;
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
