// INI files in Windows-1251: "[Section]" lines and "Key=Value" lines, Unicode inside.
//
// Every write reaches the disk at once and atomically (a temporary file beside the target,
// flushed, then renamed over it), so a crash leaves either the old file or the new one.
// A write merges: the file is read again (when it changed since this object last saw it)
// and only the keys this object changed are replaced, so what another program (or another
// object on the same file) wrote meanwhile stays. A Batch groups many writes into one file write. A missing or garbled file reads
// as empty; lines that are neither a section nor a key are skipped. A file that exists but
// cannot be read also reads as empty, and is never written over: writes stay in memory
// until it can be read again.
#pragma once

#include <sys/stat.h>

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace win32 {

// What identifies one state of a file on disk without reading it: which file it is (a
// replacement by rename is a new one), its size and when its content last changed.
struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  timespec modified{};

  static std::optional<FileStamp> Of(const struct stat& st);
  bool operator==(const FileStamp& o) const;
};

class IniFile {
 public:
  explicit IniFile(QString path);

  const QString& Path() const { return path_; }

  // Reads the file again from disk, with the changes not yet written laid over it; false
  // when it exists but cannot be read (it then reads as those changes alone).
  bool Reload();
  bool ReadOk() const { return readOk_; }

  QString ReadString(const QString& section, const QString& key, const QString& fallback = {}) const;
  // The value as a decimal integer; nothing when the key is missing or not a number.
  std::optional<int> ReadInteger(const QString& section, const QString& key) const;
  bool KeyExists(const QString& section, const QString& key) const;
  QStringList Sections() const;
  QStringList Keys(const QString& section) const;

  // Each returns false when the file could not be written (the value stays in memory).
  bool WriteString(const QString& section, const QString& key, const QString& value);
  bool WriteInteger(const QString& section, const QString& key, int value);
  bool EraseSection(const QString& section);
  bool DeleteKey(const QString& section, const QString& key);

  // Defers the disk writes of its lifetime to one write at its end.
  class Batch {
   public:
    explicit Batch(IniFile& file) : file_(file) { ++file_.batchDepth_; }
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

   private:
    IniFile& file_;
  };

  // Merges the changes not yet written into the file as it is on disk now, and writes it;
  // false when it could not be read or written. The file is read again only when it is no
  // longer as this object last read or wrote it, so a write costs one file write.
  bool Flush();

  // How many times the file has been read from disk: while it stays the same, what this
  // object holds changed only by its own writes.
  int ReadCount() const { return readCount_; }

  // Why the last read or write failed (an errno value); 0 after a success.
  int LastError() const { return lastError_; }

  // Drops the changes not yet written and reads the file again: what it holds is then what
  // the disk holds.
  void DiscardChanges();

 private:
  struct Entry {
    QString key, value;
  };
  struct Section {
    QString name;
    std::vector<Entry> entries;
  };
  // One change made through this object, kept until it is on disk.
  struct Change {
    enum Kind { Set, Delete, Erase } kind;
    QString section, key, value;
  };

  Section* Find(const QString& section);
  const Section* Find(const QString& section) const;
  Section& Add(const QString& section);
  const Entry* Lookup(const QString& section, const QString& key) const;
  void IndexSections();
  bool ReadFromDisk();
  void Apply(const Change& change);
  bool Changed(Change change);

  QString path_;
  std::vector<Section> sections_;
  QHash<QString, size_t> index_;  // case-folded section name -> its place in sections_
  std::optional<FileStamp> known_;  // the file as last read or written here
  std::vector<Change> pending_;  // replayed over the file's current text at each write
  int batchDepth_ = 0;
  bool lastWriteOk_ = true;
  bool readOk_ = true;
  int lastError_ = 0;
  int readCount_ = 0;
};

// Writes bytes to path atomically: temporary file in the same folder, fsync, rename. On
// failure the file is as it was, and `error` (when given) gets the errno value; on success
// `written` (when given) gets the stamp of the new file.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, int* error = nullptr,
                         std::optional<FileStamp>* written = nullptr);

}  // namespace win32
