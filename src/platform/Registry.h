#pragma once
// The registry: two hives of keys holding named text (REG_SZ) and 32-bit integer (REG_DWORD)
// values, kept in one text file in the Windows ".reg" export format so that a person can read
// and edit it. Reads take the file as it is; every change is a locked read-modify-write that
// replaces the file atomically (temporary file, fsync, rename), so a crash or a full disk
// never leaves a half-written file and two processes writing at once lose neither change.
// A file that does not parse is reported with its line and never overwritten.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class RegHive { LocalMachine, ClassesRoot };
enum class RegType { String, Dword };

struct RegValue {
    RegType type = RegType::String;
    std::string text;   // REG_SZ
    uint32_t dword = 0; // REG_DWORD

    static RegValue ofText(std::string text) { return {RegType::String, std::move(text), 0}; }
    static RegValue ofDword(uint32_t value) { return {RegType::Dword, {}, value}; }
};

enum class RegStatus {
    Ok,
    KeyNotFound, // the key does not exist (opened without creation)
    ValueAbsent, // the key has no value of that name
    WrongType,   // the value exists with the other type
    WriteFailed, // the file could not be replaced; the old one is intact
    FileInvalid, // the file cannot be read or does not parse; it is left as it is
};

struct RegResult {
    RegStatus status = RegStatus::Ok;
    std::string detail; // for WriteFailed and FileInvalid: what went wrong, with the line number

    bool ok() const { return status == RegStatus::Ok; }
    static RegResult failure(RegStatus status, std::string detail = {}) { return {status, std::move(detail)}; }
};

// One key: its path below the hive (names as first written) and its values in the order
// they were first set. The default (unnamed) value has the empty name.
struct RegKey {
    std::vector<std::string> names;
    std::vector<std::pair<std::string, RegValue>> values;

    const RegValue* find(std::string_view name) const;
    void set(std::string_view name, RegValue value);
    bool erase(std::string_view name);
};

// The keys of both hives in memory. Key and value names compare without regard to ASCII case,
// as on Windows. A key exists when it was created or when one of its subkeys exists.
class RegistryTree {
public:
    bool hasKey(RegHive hive, std::string_view path) const;
    const RegKey* findKey(RegHive hive, std::string_view path) const;
    RegKey* findKey(RegHive hive, std::string_view path);
    // Creates the key (and implicitly its parents); returns the existing one when present.
    RegKey& createKey(RegHive hive, std::string_view path);
    // Removes the key with all its subkeys; false when it did not exist.
    bool deleteKey(RegHive hive, std::string_view path);

    // The ".reg" text: header, then one section per key that holds values or has no subkeys.
    std::string toText() const;
    // Reads ".reg" text. On failure `tree` is unchanged and the detail names the line.
    static RegResult parse(std::string_view text, RegistryTree& tree);

private:
    using KeyId = std::pair<RegHive, std::vector<std::string>>; // folded (lower-case) names
    static KeyId keyId(RegHive hive, const std::vector<std::string>& names);
    std::map<KeyId, RegKey> keys_;
};

// Splits a key path at its backslashes, dropping empty parts ("\a\\b\" gives a, b).
std::vector<std::string> splitKeyPath(std::string_view path);


class RegistryFile {
public:
    explicit RegistryFile(std::string path) : path_(std::move(path)) {}

    // $LIRROSA_REGISTRY, else $XDG_CONFIG_HOME/lirrosa/registry.reg (default ~/.config).
    static std::string defaultPath();

    const std::string& path() const { return path_; }

    // Reads the whole file. A file that does not exist gives an empty tree.
    RegResult load(RegistryTree& tree) const;

    // Locks the file against other writers, loads it, applies `change` and, when the change
    // succeeds, replaces the file. The old file stays intact whenever this fails.
    RegResult update(const std::function<RegResult(RegistryTree&)>& change);

private:
    RegResult replaceFile(const std::string& text) const;
    std::string path_;
};

// One opened key, as the registry interface hands it out: it reads from the file as it was
// when the key was opened, and each write updates the file at once.
class RegistryKey {
public:
    RegistryKey(RegHive hive, std::string path, std::string filePath = RegistryFile::defaultPath());

    // Opens the key; with `create` a missing key (and its parents) is created in the file.
    RegResult open(bool create);

    RegResult readValue(std::string_view name, RegValue& value) const;
    RegResult readString(std::string_view name, std::string& text) const;
    RegResult readInteger(std::string_view name, int32_t& value) const;
    RegResult writeString(std::string_view name, const std::string& text);
    RegResult writeInteger(std::string_view name, int32_t value);
    RegResult deleteValue(std::string_view name);
    bool hasValue(std::string_view name) const { return opened_ && key_.find(name) != nullptr; }

private:
    RegResult writeValue(std::string_view name, RegValue value);

    RegistryFile file_;
    RegHive hive_;
    std::string path_;
    bool opened_ = false;
    RegKey key_;
};

// The hive's name as the file writes it ("HKEY_LOCAL_MACHINE").
const char* hiveName(RegHive hive);
