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

namespace {

// The whole file; an empty text when it does not exist; nothing (with the errno value in
// `error`) when it exists but cannot be read. `stamp` gets the state of what was read.
std::optional<QByteArray> ReadWholeFile(const QString& path, int& error, std::optional<FileStamp>& stamp) {
  stamp.reset();
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    if (error != ENOENT && error != ENOTDIR) return std::nullopt;
    error = 0;  // a file that does not exist reads as empty
    return QByteArray();
  }
  struct stat st {};
  QByteArray bytes;
  bool ok = ::fstat(fd, &st) == 0;
  if (ok) {
    stamp = FileStamp::Of(st);
    char chunk[65536];
    for (;;) {
      const ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = n == 0;
        break;
      }
      bytes.append(chunk, n);
    }
  }
  if (!ok) error = errno;
  ::close(fd);
  if (!ok) return std::nullopt;
  error = 0;
  return bytes;
}

}  // namespace

std::optional<FileStamp> FileStamp::Of(const struct stat& st) {
  return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

bool FileStamp::operator==(const FileStamp& o) const {
  return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
         modified.tv_nsec == o.modified.tv_nsec;
}

bool IniFile::ReadFromDisk() {
  ++readCount_;
  sections_.clear();
  index_.clear();
  const std::optional<QByteArray> bytes = ReadWholeFile(path_, lastError_, known_);
  if (!bytes) return false;
  Section* current = nullptr;
  // CR, LF and CR LF all end a line, as the writer assumes when it keeps line breaks out
  // of values.
  QByteArray text = *bytes;
  text.replace('\r', '\n');
  for (const QByteArray& raw : text.split('\n')) {
    const QString line = DecodeCp1251(raw).trimmed();
    if (line.isEmpty() || line.startsWith(';')) continue;
    if (line.startsWith('[') && line.endsWith(']')) {
      const QString name = line.mid(1, line.size() - 2).trimmed();
      current = Find(name);
      if (!current) current = &Add(name);
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
  const auto it = index_.constFind(section.toCaseFolded());
  return it == index_.cend() ? nullptr : &sections_[*it];
}

const IniFile::Section* IniFile::Find(const QString& section) const {
  return const_cast<IniFile*>(this)->Find(section);
}

IniFile::Section& IniFile::Add(const QString& section) {
  index_.insert(section.toCaseFolded(), sections_.size());
  return sections_.emplace_back(Section{section, {}});
}

void IniFile::IndexSections() {
  index_.clear();
  for (size_t i = 0; i < sections_.size(); ++i) index_.insert(sections_[i].name.toCaseFolded(), i);
}

const IniFile::Entry* IniFile::Lookup(const QString& section, const QString& key) const {
  if (const Section* s = Find(section))
    for (const auto& e : s->entries)
      if (e.key.compare(key, Qt::CaseInsensitive) == 0) return &e;
  return nullptr;
}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& fallback) const {
  const Entry* e = Lookup(section, key);
  return e ? e->value : fallback;
}

std::optional<int> IniFile::ReadInteger(const QString& section, const QString& key) const {
  const Entry* e = Lookup(section, key);
  if (!e) return std::nullopt;
  bool ok = false;
  const int v = QStringView(e->value).trimmed().toInt(&ok, 10);
  if (!ok) return std::nullopt;
  return v;
}

bool IniFile::KeyExists(const QString& section, const QString& key) const { return Lookup(section, key); }

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
      if (!s) s = &Add(c.section);
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
      IndexSections();
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
  // What could not be read is never replaced: the changes wait in memory. A file that is
  // still as this object left it need not be read again to merge into it.
  struct stat st {};
  const bool asKnown = known_ && ::stat(QFile::encodeName(path_).constData(), &st) == 0 && FileStamp::Of(st) == known_;
  if (!asKnown && !Reload()) return lastWriteOk_ = false;
  QString text;
  for (const auto& s : sections_) {
    text += '[' + s.name + "]\r\n";
    for (const auto& e : s.entries) text += e.key + '=' + e.value + "\r\n";
    text += "\r\n";
  }
  QDir().mkpath(QFileInfo(path_).absolutePath());
  lastWriteOk_ = WriteFileAtomically(path_, EncodeCp1251(text), &lastError_, &known_);
  if (lastWriteOk_) {
    lastError_ = 0;
    pending_.clear();
  }
  return lastWriteOk_;
}

void IniFile::DiscardChanges() {
  pending_.clear();
  Reload();
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, int* error, std::optional<FileStamp>* written) {
  const QByteArray target = QFile::encodeName(path);
  const QByteArray temp = target + ".tmp." + QByteArray::number(getpid());
  auto fail = [&](int err) {
    if (error) *error = err;
    return false;
  };
  const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fail(errno);
  qsizetype done = 0;
  int err = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      break;
    }
    done += n;
  }
  if (!err && ::fsync(fd) != 0) err = errno;
  struct stat st {};
  std::optional<FileStamp> stamp;
  if (!err && ::fstat(fd, &st) == 0) stamp = FileStamp::Of(st);  // the rename keeps all of it
  ::close(fd);
  if (!err && ::rename(temp.constData(), target.constData()) != 0) err = errno;
  if (err) {
    ::unlink(temp.constData());
    return fail(err);
  }
  // Make the rename itself durable.
  const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
  const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  if (written) *written = stamp;
  return true;
}

}  // namespace win32
