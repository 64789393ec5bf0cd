#pragma once
// The application's preferences domain: typed values stored as an XML
// property list, one file per application.
//
// Threads: every member may be called from any thread; one mutex guards the
// domain and the file. Observers run on the main loop only.
//
// Saving: every change is written to the file at once, atomically. Before a
// write, and whenever the file changes on disk, the store re-reads the file if
// another process replaced it, so a value written meanwhile by another process
// (vantorel-defaults) is kept, not overwritten. Processes serialise their
// read-modify-write with an advisory lock on the folder.
//
// Bad files: a writer (holding the folder lock) renames a file that is not a
// property list aside with the suffix ".corrupt" and carries on; a store that
// only reads never renames, writes or deletes anything. A file that cannot be
// read is never overwritten. A running store that finds its file damaged or
// gone (an editor that deletes before writing) writes what it holds back:
// only an empty domain written on purpose (RemoveAll) empties it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "units/prefs/PlistValue.h"

namespace vantorel {

class MainLoop;

class TUserDefaults {
public:
  using ObserverId = std::uint64_t;
  using Observer = std::function<void(const std::string& key)>;

  static constexpr const char* kDomainName = "com.quellmark.vantorel";

  enum class Access { ReadWrite, ReadOnly };

  // Opens the domain stored at `filePath`. With a main loop, observers are told
  // on it, and the file is watched for changes made by other processes. A
  // read-only store refuses every change and leaves a bad file as it is.
  explicit TUserDefaults(std::string filePath, MainLoop* loop = nullptr, Access access = Access::ReadWrite);
  ~TUserDefaults();
  TUserDefaults(const TUserDefaults&) = delete;
  TUserDefaults& operator=(const TUserDefaults&) = delete;

  // $XDG_CONFIG_HOME/vantorel/com.quellmark.vantorel.plist
  static std::string DefaultFilePath();

  // The process's store. Made on first use at the default path, on the main
  // loop installed at that moment. SetStandard replaces it (the launch sequence
  // and tests); call it before other threads use the store.
  static TUserDefaults& Standard();
  static void SetStandard(std::unique_ptr<TUserDefaults> defaults);

  const std::string& FilePath() const;
  // Why the file could not be taken in when it was read ("it is damaged
  // (...)", "it cannot be read (...)"); nothing when it was read or is absent.
  std::optional<std::string> FileProblem() const;

  bool HasKey(const std::string& key) const;
  std::optional<PlistValue> ObjectForKey(const std::string& key) const;
  PlistValue::Dictionary DictionaryRepresentation() const;

  // Typed readers: absent when the key is absent or holds a value that does
  // not convert (see PlistValue's converting readers).
  std::optional<bool> GetBool(const std::string& key) const;
  std::optional<std::int64_t> GetInteger(const std::string& key) const;
  std::optional<double> GetReal(const std::string& key) const;
  std::optional<std::string> GetString(const std::string& key) const;
  std::optional<AbsoluteTime> GetDate(const std::string& key) const;
  std::optional<PlistValue::Data> GetData(const std::string& key) const;
  std::optional<PlistValue::Array> GetArray(const std::string& key) const;
  // Absent also when any element is not a string.
  std::optional<std::vector<std::string>> GetStringArray(const std::string& key) const;
  std::optional<PlistValue::Dictionary> GetDictionary(const std::string& key) const;

  // Readers with the usual fallbacks: false, 0 and 0.0 for an absent key.
  bool BoolForKey(const std::string& key) const { return GetBool(key).value_or(false); }
  std::int64_t IntegerForKey(const std::string& key) const { return GetInteger(key).value_or(0); }
  double FloatForKey(const std::string& key) const { return GetReal(key).value_or(0.0); }

  // Writers. Each returns whether the change reached the file; a change that
  // could not be saved stays in effect for this process and is saved with the
  // next successful write or Synchronize.
  bool SetObject(const std::string& key, PlistValue value);
  bool SetBool(const std::string& key, bool value) { return SetObject(key, PlistValue(value)); }
  bool SetInteger(const std::string& key, std::int64_t value) { return SetObject(key, PlistValue(value)); }
  bool SetReal(const std::string& key, double value) { return SetObject(key, PlistValue(value)); }
  bool SetString(const std::string& key, std::string value) { return SetObject(key, PlistValue(std::move(value))); }
  bool SetDate(const std::string& key, AbsoluteTime value) { return SetObject(key, PlistValue(PlistValue::Date{value})); }
  bool SetData(const std::string& key, PlistValue::Data value) { return SetObject(key, PlistValue(std::move(value))); }
  bool SetArray(const std::string& key, PlistValue::Array value) { return SetObject(key, PlistValue(std::move(value))); }
  bool SetStringArray(const std::string& key, const std::vector<std::string>& value);
  bool SetDictionary(const std::string& key, PlistValue::Dictionary value) {
    return SetObject(key, PlistValue(std::move(value)));
  }
  bool Remove(const std::string& key);
  // Empties the whole domain on purpose: the file then holds an empty domain,
  // which running stores take in as it is.
  bool RemoveAll();

  // Takes in changes that other processes made to the file and saves any
  // change not saved yet. Returns whether the file now holds this domain.
  bool Synchronize();

  // Calls `observer` on the main loop after the key's value changed, whoever
  // changed it. Without a main loop observers are never called.
  ObserverId AddObserver(const std::string& key, Observer observer);
  void RemoveObserver(ObserverId id);

private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

// The process's preferences (the standard store).
inline TUserDefaults& NSPrefs() { return TUserDefaults::Standard(); }

}  // namespace vantorel
