#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <new>
#include <optional>

#include "library/archive/archive.h"
#include "library/archive/entry_names.h"
#include "library/archive/winzip_aes.h"
#include "library/archive/zip_handles.h"
#include "library/platform/files.h"
#include "library/platform/hooks.h"
#include "library/platform/secret.h"

namespace vellum::archive {
namespace {

using platform::FileDescriptor;

// A failed step: the code and the detail for the message. Thrown inside this file only.
struct Failed {
  std::int32_t code;
  std::string detail;
};

// Errors libzip reports while opening an archive.
std::int32_t OpenFailureCode(int zip_code) {
  switch (zip_code) {
    case ZIP_ER_NOENT:
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
      return kArchiveUnreadable;
    case ZIP_ER_MEMORY:
      return kInternal;
    default:  // NOZIP, INCONS, MULTIDISK, EOF, ...
      return kNotAnArchive;
  }
}

// Errors while opening, reading or closing one entry. libzip checks the password against 2
// bytes (AES) or 1 byte (traditional) only, so a wrong password slips through about once in
// 65,536 or 256 tries and then shows only as garbage: a failed inflate, a bad CRC or a failed
// AES authentication code. On an encrypted entry those are read as a wrong password; damage
// of the ciphertext cannot be told apart from it there.
std::int32_t EntryFailureCode(int zip_code, bool encrypted) {
  switch (zip_code) {
    case ZIP_ER_WRONGPASSWD:
    case ZIP_ER_NOPASSWD:
      return kWrongPassword;
    case ZIP_ER_COMPNOTSUPP:
    case ZIP_ER_ENCRNOTSUPP:
      return kUnsupported;
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
    case ZIP_ER_OPEN:
      return kArchiveUnreadable;
    case ZIP_ER_MEMORY:
      return kInternal;
    case ZIP_ER_CRC:
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA:
    case ZIP_ER_INCONS:
    case ZIP_ER_EOF:
      return encrypted ? kWrongPassword : kDamagedEntry;
    default:
      return kDamagedEntry;
  }
}

std::string Join(const std::vector<std::string>& parts, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) out += '/';
    out += parts[i];
  }
  return out;
}

struct PlannedEntry {
  zip_uint64_t index;
  std::vector<std::string> components;
  bool is_folder;
  bool encrypted;
  std::optional<std::uint64_t> declared_size;
  std::uint16_t encryption_method;
  std::optional<std::uint32_t> crc;
  std::int32_t compression_method;  // -1 when the archive does not say
  std::optional<std::uint64_t> stored_size;
};

struct StagedFile {
  int folder_fd;          // owned by Extraction::folders_
  std::string temp_name;  // in that folder
  std::string final_name;
  std::string relative;  // entry path below the extraction folder
  bool renamed = false;
};

// One entry's bytes as they come out of the archive. WinZip AES entries are decrypted here in
// bulk (see WinZipAesReader); the rest by libzip, also empty ones, which libzip answers without
// reading their stored bytes.
struct EntryBytes {
  std::optional<WinZipAesReader> aes;
  ZipEntryReader libzip;

  std::int64_t Read(char* buffer, std::size_t size) {
    return aes ? aes->Read(buffer, size) : zip_fread(libzip.get(), buffer, size);
  }
  int error() { return aes ? aes->error() : zip_error_code_zip(zip_file_get_error(libzip.get())); }
  // The CRC and the AES authentication code are checked at the very end, by the last read or
  // by the close.
  int Finish() { return aes ? aes->Finish() : libzip.Close(); }
};

// One extraction run. Everything it creates is recorded, and unless Commit finished the
// destructor takes it away again: renamed files, temporary files, folders it made.
class Extraction {
 public:
  Extraction(const std::string& archive, const std::string& folder, std::string_view password)
      : archive_path_(archive), folder_(folder), password_(password) {}
  Extraction(const Extraction&) = delete;
  Extraction& operator=(const Extraction&) = delete;
  ~Extraction() { Rollback(); }

  void Run(std::vector<std::string>* extracted);

 private:
  void Open();
  std::vector<PlannedEntry> Plan();
  void MakeRoot();
  int FolderFor(const std::vector<std::string>& components, std::size_t count);
  void StageFile(const PlannedEntry& entry);
  void OpenEntry(const PlannedEntry& entry, const std::string& relative, EntryBytes& bytes);
  // Copies the entry's bytes into `out`, holding the entry to its declared size and the run to
  // its bound; a failure to read is left in `failure`. Returns the bytes written.
  std::uint64_t CopyEntry(const PlannedEntry& entry, const std::string& relative, EntryBytes& bytes,
                          int out, int& failure);
  void Commit();
  void Rollback();

  std::string archive_path_;
  std::string folder_;
  platform::SecretText password_;  // NUL-terminated for libzip
  ZipArchive za_;
  std::uint64_t bound_ = 0;
  std::uint64_t declared_ = 0;  // the entries' sizes as the archive declares them
  std::uint64_t produced_ = 0;
  std::optional<platform::ProgressReport> progress_;  // of the bytes produced
  bool created_root_ = false;
  bool done_ = false;
  std::map<std::string, FileDescriptor> folders_;  // "" is the extraction folder itself
  std::vector<std::string> created_folders_;       // relative, in creation order
  std::vector<StagedFile> staged_;
};

void Extraction::Open() {
  struct stat st {};
  if (::stat(archive_path_.c_str(), &st) != 0) throw Failed{kArchiveUnreadable, archive_path_};
  if (!S_ISREG(st.st_mode)) throw Failed{kArchiveUnreadable, archive_path_};
  bound_ = ExtractionBound(static_cast<std::uint64_t>(st.st_size));
  int error = 0;
  za_ = ZipArchive(zip_open(archive_path_.c_str(), ZIP_RDONLY, &error));
  if (!za_) throw Failed{OpenFailureCode(error), archive_path_};
}

// Every name is judged, and the declared sizes summed, before anything is written: a hostile
// archive leaves no trace at all.
std::vector<PlannedEntry> Extraction::Plan() {
  zip_int64_t count = zip_get_num_entries(za_.get(), 0);
  if (count < 0) throw Failed{kNotAnArchive, archive_path_};
  std::vector<PlannedEntry> plan;
  std::uint64_t declared = 0;
  std::optional<std::string> unencrypted;  // the first file entry without encryption
  for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(za_.get(), i, ZIP_FL_ENC_GUESS, &st) < 0 || !(st.valid & ZIP_STAT_NAME))
      throw Failed{kNotAnArchive, archive_path_};
    std::string_view name = st.name;
    bool is_folder = !name.empty() && name.back() == '/';
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(za_.get(), i, 0, &opsys, &attributes) < 0)
      throw Failed{kNotAnArchive, archive_path_};
    auto components = SafeComponents(name, is_folder);
    if (!components || IsSpecialEntry(opsys, attributes))
      throw Failed{kUnsafeEntry, PrintableName(name)};
    if (st.valid & ZIP_STAT_SIZE) {
      if (st.size > bound_ || declared > bound_ - st.size) throw Failed{kTooLarge, archive_path_};
      declared += st.size;
    }
    bool encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
    std::optional<std::uint64_t> size;
    if (st.valid & ZIP_STAT_SIZE) size = st.size;
    std::optional<std::uint32_t> crc;
    if (st.valid & ZIP_STAT_CRC) crc = st.crc;
    std::uint16_t method = encrypted ? st.encryption_method : std::uint16_t{ZIP_EM_NONE};
    // An encryption method libzip cannot decode is refused here, not left to zip_fopen:
    // libzip 1.7 leaks the entry's source when it meets one.
    if (encrypted && !zip_encryption_method_supported(method, 0))
      throw Failed{kUnsupported, PrintableName(name)};
    if (!is_folder && !encrypted && !password_->empty() && !unencrypted)
      unencrypted = PrintableName(name);
    const std::int32_t compression =
        (st.valid & ZIP_STAT_COMP_METHOD) ? std::int32_t{st.comp_method} : -1;
    std::optional<std::uint64_t> stored;
    if (st.valid & ZIP_STAT_COMP_SIZE) stored = st.comp_size;
    plan.push_back(
        {i, std::move(*components), is_folder, encrypted, size, method, crc, compression, stored});
  }
  // Judged after the whole directory, so a hostile name or a bomb keeps its own code.
  if (unencrypted) throw Failed{kNotEncrypted, *unencrypted};
  declared_ = declared;
  return plan;
}

void Extraction::MakeRoot() {
  if (::mkdir(folder_.c_str(), 0777) == 0) {
    created_root_ = true;
  } else if (errno != EEXIST) {
    throw Failed{kFolderNotWritten, folder_ + ": " + strerror(errno)};
  }
  // Opened without following a link at its name, and checked to be the caller's own folder:
  // a link or a stranger's folder put there after mkdir must not receive the files.
  FileDescriptor fd(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) throw Failed{kFolderNotWritten, folder_ + ": " + strerror(errno)};
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
    throw Failed{kFolderNotWritten, folder_ + ": not a folder of this user"};
  folders_.emplace("", std::move(fd));
}

// The folder for the first `count` components, made as needed. Each step is opened with
// O_NOFOLLOW relative to the one before, so a link already inside the extraction folder
// cannot carry a write elsewhere.
int Extraction::FolderFor(const std::vector<std::string>& components, std::size_t count) {
  std::string key = Join(components, count);
  if (auto it = folders_.find(key); it != folders_.end()) return it->second.get();
  int parent = FolderFor(components, count - 1);
  const std::string& name = components[count - 1];
  if (::mkdirat(parent, name.c_str(), 0777) == 0) {
    created_folders_.push_back(key);
  } else if (errno != EEXIST) {
    throw Failed{kFolderNotWritten, key + ": " + strerror(errno)};
  }
  FileDescriptor fd(
      ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) {
    int err = errno;
    // With O_DIRECTORY, a link answers ENOTDIR rather than ELOOP; look at what is there.
    struct stat st {};
    if (err == ELOOP ||
        (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)))
      throw Failed{kUnsafeEntry, PrintableName(key)};
    throw Failed{kFolderNotWritten, key + ": " + strerror(err)};
  }
  int raw = fd.get();
  folders_.emplace(key, std::move(fd));
  return raw;
}

void Extraction::OpenEntry(const PlannedEntry& entry, const std::string& relative,
                           EntryBytes& bytes) {
  // libzip takes an empty password as an invalid argument; without one it answers an
  // encrypted entry with "no password", which is the mismatch the caller should hear of.
  const char* password = password_->empty() ? nullptr : password_->c_str();
  if (entry.encrypted && password != nullptr && entry.declared_size.value_or(0) > 0 &&
      entry.stored_size &&
      WinZipAesReader::Handles(entry.encryption_method, entry.compression_method)) {
    bytes.aes.emplace(za_.get(), entry.index, entry.encryption_method, entry.compression_method,
                      entry.crc.value_or(0), *entry.stored_size, password);
    if (int err = bytes.aes->Start(); err != ZIP_ER_OK)
      throw Failed{EntryFailureCode(err, true), PrintableName(relative)};
    return;
  }
  bytes.libzip = ZipEntryReader(zip_fopen_index_encrypted(za_.get(), entry.index, 0, password));
  if (!bytes.libzip)
    throw Failed{EntryFailureCode(zip_error_code_zip(zip_get_error(za_.get())), entry.encrypted),
                 PrintableName(relative)};
}

std::uint64_t Extraction::CopyEntry(const PlannedEntry& entry, const std::string& relative,
                                    EntryBytes& bytes, int out, int& failure) {
  char buffer[1 << 16];
  std::uint64_t written = 0;
  for (;;) {
    const std::int64_t n = bytes.Read(buffer, sizeof buffer);
    if (n < 0) {
      failure = bytes.error();
      break;
    }
    if (n == 0) break;
    // libzip does not hold an entry to its declared size; a size field that lies low would
    // slip past the bound counted in Plan. Beyond it the entry is inconsistent.
    written += static_cast<std::uint64_t>(n);
    if (entry.declared_size && written > *entry.declared_size)
      throw Failed{EntryFailureCode(ZIP_ER_INCONS, entry.encrypted), PrintableName(relative)};
    produced_ += static_cast<std::uint64_t>(n);
    if (produced_ > bound_) throw Failed{kTooLarge, archive_path_};
    progress_->Reach(produced_);
    if (int err = platform::WriteAll(out, {buffer, static_cast<std::size_t>(n)}); err != 0)
      throw Failed{kFolderNotWritten, relative + ": " + strerror(err)};
  }
  return written;
}

void Extraction::StageFile(const PlannedEntry& entry) {
  const std::vector<std::string>& parts = entry.components;
  std::string relative = Join(parts, parts.size());
  int folder = FolderFor(parts, parts.size() - 1);
  EntryBytes bytes;
  OpenEntry(entry, relative, bytes);

  StagedFile staged{folder, {}, parts.back(), relative};
  FileDescriptor out =
      platform::CreateTemporaryFile(folder, "vellum-extract", 0666, staged.temp_name);
  if (!out) throw Failed{kFolderNotWritten, relative + ": " + strerror(errno)};
  staged_.push_back(staged);

  int failure = ZIP_ER_OK;
  const std::uint64_t written = CopyEntry(entry, relative, bytes, out.get(), failure);
  const int finished = bytes.Finish();
  if (failure == ZIP_ER_OK) failure = finished;
  // An entry that authenticates but comes out shorter than it says is not the entry written.
  if (bytes.aes && failure == ZIP_ER_OK && entry.declared_size && written != *entry.declared_size)
    failure = ZIP_ER_INCONS;
  if (failure != ZIP_ER_OK)
    throw Failed{EntryFailureCode(failure, entry.encrypted), PrintableName(relative)};
  if (::fsync(out.get()) != 0 && errno != EINVAL && errno != EROFS)
    throw Failed{kFolderNotWritten, relative + ": " + strerror(errno)};
  if (int err = out.close(); err != 0)
    throw Failed{kFolderNotWritten, relative + ": " + strerror(err)};
}

void Extraction::Commit() {
  for (StagedFile& file : staged_) {
    if (::renameat(file.folder_fd, file.temp_name.c_str(), file.folder_fd,
                   file.final_name.c_str()) != 0)
      throw Failed{kFolderNotWritten, file.relative + ": " + strerror(errno)};
    file.renamed = true;
  }
  done_ = true;
}

void Extraction::Rollback() {
  if (done_) return;
  for (auto it = staged_.rbegin(); it != staged_.rend(); ++it)
    ::unlinkat(it->folder_fd, (it->renamed ? it->final_name : it->temp_name).c_str(), 0);
  int root = folders_.count("") ? folders_.at("").get() : -1;
  for (auto it = created_folders_.rbegin(); it != created_folders_.rend(); ++it)
    if (root >= 0) ::unlinkat(root, it->c_str(), AT_REMOVEDIR);
  folders_.clear();
  if (created_root_) ::rmdir(folder_.c_str());
}

void Extraction::Run(std::vector<std::string>* extracted) {
  Open();
  std::vector<PlannedEntry> plan = Plan();
  progress_.emplace(platform::kProgressExtracting, declared_);
  MakeRoot();
  for (const PlannedEntry& entry : plan) {
    if (entry.is_folder) {
      if (!entry.components.empty()) FolderFor(entry.components, entry.components.size());
    } else {
      StageFile(entry);
    }
  }
  Commit();
  progress_->Finish();
  if (extracted != nullptr) {
    for (const StagedFile& file : staged_) extracted->push_back(folder_ + "/" + file.relative);
  }
}

}  // namespace

Result ExtractArchive(const std::string& archive, const std::string& folder,
                      std::string_view password, std::vector<std::string>* extracted) {
  std::int32_t code = kInternal;
  std::string detail;
  try {
    std::vector<std::string> paths;
    Extraction(archive, folder, password).Run(&paths);
    if (extracted != nullptr) *extracted = std::move(paths);
    return Result{};
  } catch (const Failed& f) {
    code = f.code;
    detail = f.detail;
  } catch (const std::exception&) {
    code = kInternal;
  }
  Result r{code, ResultText(code)};
  if (!detail.empty()) r.text += "\r\n" + detail;
  return r;
}

}  // namespace vellum::archive
