#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The settings store of the current user, with the semantics of the registry branch
// HKEY_CURRENT_USER: keys named by backslash paths ("Software\KESTRIM\tarnvelox\Option"),
// compared without regard to case, each holding typed values (also named without regard to
// case) and subkeys. Values keep their raw bytes and their type exactly as they were set.
//
// The store lives in one text file in the REGEDIT4 export format, so a person can read it.
// Every change is written at once (or at the end of a CRegistryBatch): under a lock on the
// file, the file is read again, the change is applied on top, and the result is written to a
// temporary file that is renamed over the old one. Two processes that change the store at the
// same time thus lose none of each other's values, and a crash never leaves half a file.
// Reads see changes other processes made.
//
// The file is read defensively, as anything may be found under its name. Only a regular file of
// at most 16 MiB is read: anything else (a FIFO, a device, a folder, a larger file) is refused
// without waiting on it, the store is empty and cannot be changed, and a message says so. Keys
// are at most 512 levels deep. A line that cannot be read is skipped with what depends on it
// (the values below a key line that cannot be read); everything else is kept, the damaged file
// is saved as the first of "<file>.bad", "<file>.bad.1", … that does not exist yet, and the file
// is written again with what was read. Each damaged or refused version of the file is reported
// once through ReportMessage (platform/MessageReporter.h).
enum class RegType : std::uint32_t {
  None = 0,
  Sz = 1,        // text; the data counts the terminating NUL
  ExpandSz = 2,  // text with environment references, stored the same way
  Binary = 3,
  Dword = 4,  // 4 bytes, little-endian
};

class CRegistry {
 public:
  // $TARNVELOX_REGISTRY when set, else $XDG_CONFIG_HOME/tarnvelox/registry.reg, with
  // ~/.config in place of an unset XDG_CONFIG_HOME.
  static std::filesystem::path DefaultPath();
  // The process-wide store at DefaultPath(), opened at first use.
  static CRegistry& User();

  // A store kept in file; the file and its folder are created at the first change.
  explicit CRegistry(std::filesystem::path file);
  ~CRegistry();
  CRegistry(const CRegistry&) = delete;
  CRegistry& operator=(const CRegistry&) = delete;

  const std::filesystem::path& File() const;

  // Whether the key exists (the way opening it succeeds or fails).
  bool OpenKey(std::string_view key);
  // Opens the key, creating it and its missing parents; false when the file cannot be written.
  bool CreateKey(std::string_view key);
  // The type and raw bytes of a value; false when the key or the value does not exist.
  bool QueryValue(std::string_view key, std::string_view name, RegType* type,
                  std::vector<std::uint8_t>* data);
  // Sets a value of an existing key; false when the key does not exist or the file cannot
  // be written (the stored data then stays as it was). Key and value names cannot hold a line
  // break or NUL, and a key path cannot have an empty name between two backslashes: such calls
  // return false.
  bool SetValue(std::string_view key, std::string_view name, RegType type,
                std::span<const std::uint8_t> data);
  bool SetDword(std::string_view key, std::string_view name, std::uint32_t value);
  // A REG_SZ value: the text and its terminating NUL.
  bool SetString(std::string_view key, std::string_view name, std::string_view text);
  // False when the value does not exist or the file cannot be written.
  bool DeleteValue(std::string_view key, std::string_view name);
  // The name of subkey number index of key, in the store's order; false past the last one
  // or when the key does not exist.
  bool EnumSubKey(std::string_view key, std::uint32_t index, std::string* name);
  // Deletes the subkey of key with everything below it; false when it does not exist.
  bool DeleteSubKey(std::string_view key, std::string_view subkey);

 private:
  friend class CRegistryBatch;
  struct State;
  std::unique_ptr<State> state;
};

// Gathers the changes made to a store while it lives into one write of the file, so that
// saving 512 values of a pen set rewrites the file once. Batches on one store nest.
// While a batch lives, a change returns true once it is made in memory (false only for a key
// or value that does not exist); the file is written when the outermost batch ends. When that
// write fails, the batch's changes are dropped and the store shows what the file holds.
class CRegistryBatch {
 public:
  explicit CRegistryBatch(CRegistry& store);
  // Ends the batch unless Commit did; a failed write then goes unreported.
  ~CRegistryBatch();
  CRegistryBatch(const CRegistryBatch&) = delete;
  CRegistryBatch& operator=(const CRegistryBatch&) = delete;

  // Ends the batch now. The outermost batch writes its changes and returns whether they are in
  // the file; a nested batch returns true, its changes waiting for the outermost one. Later
  // calls return the same answer.
  bool Commit();

 private:
  CRegistry& store;
  bool ended = false;
  bool written = true;
};
