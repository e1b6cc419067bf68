// The partial file of a resumable download and the registry metadata that lets a later download of
// the same URL continue it (Windows).
//
// Under HKLM\<agent root>\FileMetaData a value named by the URL holds the URL's unique id; the
// subkey named by the id records the partial file's size, the server's Last-Modified text it
// belongs to, the time of the last append, the number of finished attempts and an in-progress mark.
// The partial file is <install dir><repository name><id>.
//
// Crash safety: bytes are on disk before the size that covers them is recorded. The flush and the
// record of each periodic append happen on a thread of the handler's own, so that the download keeps
// receiving while the disk catches up; the record may lag behind the file, never run ahead of it. A
// partial file longer than its record is cut back to it and resumed; one shorter than its record is
// started over. A partial file that is dropped loses its size and Last-Modified record before the
// file goes, and an append records the Last-Modified text before the size, so the two always
// describe one version. So a process killed at any moment, or a system that goes down, leaves
// either a resumable pair or one that the next download starts over.
//
// Two downloads of one URL are kept apart: the download that owns an id holds a named kernel object
// for it for as long as it runs (the system drops it when the process ends, however it ends). A
// download that finds the id held by a running download works on a fresh id of its own, which it
// holds too, records nothing and removes its partial file when it ends; a held id is never cleaned,
// however old its mark. An in-progress mark whose owner has ended is taken over and the partial file
// resumed. An object of that name that another account created neither holds nor blocks an id. A
// running download also keeps its partial file open without delete sharing. A file in the
// repository whose name is a download id and that is neither recorded nor held nor open is removed
// by the next download that looks; files of any other name are never touched. So is an id's record
// that no URL can find any more (its URL's value is gone), when its id is not held.
//
// Every operation logs "Error caught in <name>" and returns 13 when something throws inside it.
// One handler belongs to one download on one thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "base/unique_handle_win.h"
#include "transport/transfer_rules.h"

namespace vx {

class RegistryKey;

class DownloadResumeHandler {
 public:
  DownloadResumeHandler();
  // Clears this download's in-progress mark and gives up its claim on the id.
  ~DownloadResumeHandler();
  DownloadResumeHandler(const DownloadResumeHandler&) = delete;
  DownloadResumeHandler& operator=(const DownloadResumeHandler&) = delete;

  // Finds or creates the URL's metadata and decides where the download starts (ResumeOffset()): a
  // partial file is resumed only when its record names the server's Last-Modified text and ETag. An
  // id belongs to one URL, compared exactly (value names ignore case, so two URLs that differ only
  // in case may meet one value: each keeps an id of its own). 0, or 13 when something failed inside.
  int Initialize(const std::wstring& destination, const std::string& server_last_modified, const std::wstring& url,
                 const std::string& server_etag = std::string());

  // Appends count gathered bytes to the partial file at the recorded end, flushes them, and records
  // the new size (unless another download holds the metadata). periodic false marks the final append
  // of an attempt: the retry count grows and the in-progress mark is cleared. 0, 13, or the Windows
  // error of the file operation.
  int ProcessDownloadedBuffer(const char* bytes, std::uint32_t count, bool periodic);

  // Puts the finished partial file in place of the destination, then removes file and metadata.
  // 0, 13, or the Windows error (file and metadata are kept then).
  int SaveToDestFile();

  // Reads the finished partial file as text (CR LF read as LF, up to the first NUL) into out, then
  // removes file and metadata. 1 on success, 0 when the file cannot be read.
  int LoadDatafromFile(std::string* out);

  // Deletes the partial file, the URL's value (when it still names this download's id) and the id's
  // metadata key. 0 or 13.
  int CleanFileAndRegistry();

  // Forgets the partial file: deleted, nothing to resume from.
  void PreDownloadCleaningOfPartialFile();

  // The server sent the whole file for a range that does not start at 0: what was written so far is
  // dropped and the download continues from byte 0 with that body.
  void StartOver();
  // The same for a new version of the server's file: later appends record its Last-Modified text
  // and ETag ("" for none).
  void StartOver(const std::string& server_last_modified, const std::string& server_etag);

  // An empty partial file, for a download whose content is empty.
  int CreateEmptyPartialFile();

  [[nodiscard]] std::uint32_t ResumeOffset() const { return resume_offset_; }
  [[nodiscard]] std::uint32_t StoredPartialSize() const { return stored_partial_size_; }
  [[nodiscard]] std::uint32_t SaveLimit() const { return save_limit_; }
  void SetSaveLimit(std::uint32_t limit) { save_limit_ = limit; }
  [[nodiscard]] const std::wstring& PartialFile() const { return partial_file_; }
  [[nodiscard]] const std::string& UniqueId() const { return unique_id_; }
  [[nodiscard]] bool AnotherDownload() const { return another_download_; }

  // Exposed for tests: the steps of Initialize.
  int GetFileDataFromRegistry();
  int FormUniqueFileName();

 private:
  class Recorder;

  int InitializeMetadata();
  void ReadSettings(RegistryKey& key);
  IdClaim ClaimId();
  [[nodiscard]] PartialFileRecord ReadPartialFileRecord(RegistryKey& key) const;
  void TakeOwnership(RegistryKey& key, const PartialFileRecord& record, const ResumeDecision& decision);
  void MoveToAnotherId(PartialFileOwner owner);
  void ReleaseClaim();
  void MarkInProgress(RegistryKey& key);
  [[nodiscard]] bool IdTaken(const std::string& id) const;
  [[nodiscard]] std::string IdKey() const;
  int AppendToPartialFile(const char* bytes, std::uint32_t count);
  [[nodiscard]] bool IdBelongsToUrl(const std::string& id) const;
  [[nodiscard]] std::string FindIdOfUrl() const;
  void ReleasePartialFile();
  int FlushAndRecord(std::uint32_t size, bool periodic);
  int RecordAppend(std::uint32_t size, bool periodic);
  int Settle();
  void ResetRecord();
  void RemoveUnnamedRecords() const;
  void RemoveUnrecordedFiles() const;
  static std::int64_t ReadLastRetryTime(RegistryKey& key);

  std::wstring destination_;
  std::wstring partial_file_;
  std::wstring repository_name_ = L"DownloadRepository\\";
  std::wstring url_;
  std::string stored_last_modified_;
  std::string server_last_modified_;
  std::string server_etag_;
  std::string unique_id_;
  DWORD retry_count_ = 0;
  std::uint32_t resume_offset_ = 0;
  std::uint32_t stored_partial_size_ = 0;
  std::uint32_t written_this_run_ = 0;
  std::uint32_t save_limit_ = 1048576;
  std::int64_t last_retry_time_ = 0;
  bool another_download_ = false;
  UniqueHandle claim_;  // the named object that marks the id as ours while the download runs
  // The partial file, open while the download writes it and shared with nobody who would delete it,
  // so that no other download's sweep removes it, with or without named objects.
  UniqueHandle partial_handle_;
  std::unique_ptr<Recorder> recorder_;  // flushes and records periodic appends; made at the first
};

}  // namespace vx
