#include "platform/Registry.h"

#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

char foldCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string folded(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = foldCase(c);
    return out;
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (foldCase(a[i]) != foldCase(b[i]))
            return false;
    return true;
}

std::string systemError(const std::string& what, int error)
{
    return what + ": " + std::strerror(error);
}

// Text that a ".reg" line can hold: no line breaks and no NUL.
bool fitsOnOneLine(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string regQuoted(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::string valueLine(const std::string& name, const RegValue& value)
{
    std::string line = name.empty() ? std::string("@") : regQuoted(name);
    line += '=';
    if (value.type == RegType::String) {
        line += regQuoted(value.text);
    } else {
        char hex[16];
        std::snprintf(hex, sizeof hex, "dword:%08x", static_cast<unsigned>(value.dword));
        line += hex;
    }
    return line;
}

// Reads one line of ".reg" text; the parse position moves past what was read.
class LineParser {
public:
    explicit LineParser(std::string_view line) : line_(line) {}

    bool atEnd() const { return pos_ >= line_.size(); }
    char peek() const { return atEnd() ? '\0' : line_[pos_]; }
    void skipSpaces()
    {
        while (!atEnd() && (line_[pos_] == ' ' || line_[pos_] == '\t'))
            ++pos_;
    }
    bool take(std::string_view text)
    {
        if (line_.substr(pos_, text.size()) != text)
            return false;
        pos_ += text.size();
        return true;
    }
    std::string_view rest() const { return line_.substr(pos_); }

    // A quoted text with \\ and \" escapes; returns an error text, empty on success.
    std::string quotedText(std::string& out)
    {
        if (!take("\""))
            return "expected a quoted text";
        out.clear();
        while (!atEnd()) {
            char c = line_[pos_++];
            if (c == '"')
                return {};
            if (c == '\\') {
                if (atEnd())
                    break;
                char escaped = line_[pos_++];
                if (escaped != '\\' && escaped != '"')
                    return std::string("unknown escape \\") + escaped + " in quoted text (write \\\\ for a backslash)";
                c = escaped;
            }
            out += c;
        }
        return "quoted text without its closing quote";
    }

private:
    std::string_view line_;
    size_t pos_ = 0;
};

std::string parseDword(std::string_view digits, uint32_t& value)
{
    if (digits.empty() || digits.size() > 8)
        return "dword: needs 1 to 8 hexadecimal digits";
    value = 0;
    for (char c : digits) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (foldCase(c) >= 'a' && foldCase(c) <= 'f')
            digit = foldCase(c) - 'a' + 10;
        else
            return "dword: needs 1 to 8 hexadecimal digits";
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return {};
}

// A value line: "Name"=... or @=...; returns an error text, empty on success.
std::string parseValueLine(std::string_view line, std::string& name, RegValue& value)
{
    LineParser p(line);
    if (p.take("@")) {
        name.clear();
    } else if (p.peek() == '"') {
        std::string error = p.quotedText(name);
        if (!error.empty())
            return error;
    } else {
        return "expected \"Name\"=value, @=value or a [key] line";
    }
    p.skipSpaces();
    if (!p.take("="))
        return "expected = after the value name";
    p.skipSpaces();
    if (p.peek() == '"') {
        std::string text;
        std::string error = p.quotedText(text);
        if (!error.empty())
            return error;
        value = RegValue::ofText(std::move(text));
    } else if (p.take("dword:")) {
        std::string_view digits = p.rest();
        while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t'))
            digits.remove_suffix(1);
        uint32_t number = 0;
        std::string error = parseDword(digits, number);
        if (!error.empty())
            return error;
        value = RegValue::ofDword(number);
        return {};
    } else if (p.peek() == '-') {
        return "deleting a value (=-) is not supported here";
    } else {
        return "unsupported value type: only \"text\" and dword:00000000 values are read";
    }
    p.skipSpaces();
    if (!p.atEnd())
        return "unexpected text after the value";
    return {};
}

// A [HIVE\path] line; returns an error text, empty on success.
std::string parseKeyLine(std::string_view line, RegHive& hive, std::string& path)
{
    std::string_view inner = line.substr(1, line.size() - 2);
    if (!inner.empty() && inner.front() == '-')
        return "deleting a key ([-...]) is not supported here";
    size_t split = inner.find('\\');
    std::string_view hiveText = inner.substr(0, split);
    if (hiveText == "HKEY_LOCAL_MACHINE")
        hive = RegHive::LocalMachine;
    else if (hiveText == "HKEY_CLASSES_ROOT")
        hive = RegHive::ClassesRoot;
    else
        return "unknown root key '" + std::string(hiveText) + "' (HKEY_LOCAL_MACHINE or HKEY_CLASSES_ROOT)";
    path = split == std::string_view::npos ? std::string() : std::string(inner.substr(split + 1));
    if (splitKeyPath(path).empty())
        return "a key needs a name below its root key";
    return {};
}

std::string_view trimmedLine(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    return line;
}

bool readWholeFile(const std::string& path, std::string& text, int& error)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    text.clear();
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

// Holds an exclusive lock on the registry's lock file for one read-modify-write. The lock
// is on a file beside the registry, because the registry file itself is replaced by rename.
class WriterLock {
public:
    explicit WriterLock(const std::string& registryPath)
    {
        std::string lockPath = registryPath + ".lock";
        fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd_ < 0) {
            error_ = systemError("cannot open the lock file " + lockPath, errno);
            return;
        }
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = systemError("cannot lock " + lockPath, errno);
                return;
            }
        }
        locked_ = true;
    }
    ~WriterLock()
    {
        if (fd_ >= 0)
            ::close(fd_); // closing releases the lock
    }
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

    bool locked() const { return locked_; }
    const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    bool locked_ = false;
    std::string error_;
};

} // namespace

const char* hiveName(RegHive hive)
{
    return hive == RegHive::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CLASSES_ROOT";
}

std::vector<std::string> splitKeyPath(std::string_view path)
{
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > start)
            names.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

const RegValue* RegKey::find(std::string_view name) const
{
    for (const auto& [valueName, value] : values)
        if (sameName(valueName, name))
            return &value;
    return nullptr;
}

void RegKey::set(std::string_view name, RegValue value)
{
    for (auto& [valueName, existing] : values) {
        if (sameName(valueName, name)) {
            existing = std::move(value);
            return;
        }
    }
    values.emplace_back(std::string(name), std::move(value));
}

bool RegKey::erase(std::string_view name)
{
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (sameName(it->first, name)) {
            values.erase(it);
            return true;
        }
    }
    return false;
}

RegistryTree::KeyId RegistryTree::keyId(RegHive hive, const std::vector<std::string>& names)
{
    KeyId id{hive, {}};
    for (const std::string& name : names)
        id.second.push_back(folded(name));
    return id;
}

bool RegistryTree::hasKey(RegHive hive, std::string_view path) const
{
    std::vector<std::string> names = splitKeyPath(path);
    if (names.empty())
        return false;
    KeyId id = keyId(hive, names);
    auto it = keys_.lower_bound(id);
    if (it == keys_.end() || it->first.first != hive)
        return false;
    const std::vector<std::string>& found = it->first.second;
    return found.size() >= id.second.size() && std::equal(id.second.begin(), id.second.end(), found.begin());
}

const RegKey* RegistryTree::findKey(RegHive hive, std::string_view path) const
{
    auto it = keys_.find(keyId(hive, splitKeyPath(path)));
    return it == keys_.end() ? nullptr : &it->second;
}

RegKey* RegistryTree::findKey(RegHive hive, std::string_view path)
{
    auto it = keys_.find(keyId(hive, splitKeyPath(path)));
    return it == keys_.end() ? nullptr : &it->second;
}

RegKey& RegistryTree::createKey(RegHive hive, std::string_view path)
{
    std::vector<std::string> names = splitKeyPath(path);
    auto [it, inserted] = keys_.try_emplace(keyId(hive, names));
    if (inserted)
        it->second.names = std::move(names);
    return it->second;
}

bool RegistryTree::deleteKey(RegHive hive, std::string_view path)
{
    std::vector<std::string> names = splitKeyPath(path);
    if (!hasKey(hive, path))
        return false;
    KeyId id = keyId(hive, names);
    auto it = keys_.lower_bound(id);
    while (it != keys_.end() && it->first.first == hive && it->first.second.size() >= id.second.size() &&
           std::equal(id.second.begin(), id.second.end(), it->first.second.begin()))
        it = keys_.erase(it);
    // The parent stays even when the deleted key was what made it exist.
    names.pop_back();
    if (!names.empty()) {
        std::string parent;
        for (const std::string& name : names)
            parent += name + "\\";
        if (!hasKey(hive, parent))
            createKey(hive, parent);
    }
    return true;
}

std::string RegistryTree::toText() const
{
    std::string text(kHeader);
    text += "\n";
    for (auto it = keys_.begin(); it != keys_.end(); ++it) {
        auto next = std::next(it);
        const std::vector<std::string>& id = it->first.second;
        bool hasSubkeys = next != keys_.end() && next->first.first == it->first.first &&
                          next->first.second.size() > id.size() &&
                          std::equal(id.begin(), id.end(), next->first.second.begin());
        const RegKey& key = it->second;
        if (key.values.empty() && hasSubkeys)
            continue; // implied by its subkeys
        text += "\n[";
        text += hiveName(it->first.first);
        for (const std::string& name : key.names)
            text += "\\" + name;
        text += "]\n";
        // The default value comes first, as the registry editor writes it.
        for (const auto& [name, value] : key.values)
            if (name.empty())
                text += valueLine(name, value) + "\n";
        for (const auto& [name, value] : key.values)
            if (!name.empty())
                text += valueLine(name, value) + "\n";
    }
    return text;
}

RegResult RegistryTree::parse(std::string_view text, RegistryTree& tree)
{
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF && static_cast<unsigned char>(text[1]) == 0xFE)
        return RegResult::failure(RegStatus::FileInvalid, "line 1: the file is in UTF-16; save it as UTF-8");
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);

    RegistryTree parsed;
    RegKey* current = nullptr;
    bool seenHeader = false;
    size_t lineNumber = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = trimmedLine(text.substr(start, end - start));
        start = end + 1;
        ++lineNumber;

        auto fail = [lineNumber](const std::string& message) {
            return RegResult::failure(RegStatus::FileInvalid, "line " + std::to_string(lineNumber) + ": " + message);
        };
        if (line.empty() || line.front() == ';')
            continue;
        if (!seenHeader) {
            if (line != kHeader)
                return fail("the file must start with \"" + std::string(kHeader) + "\"");
            seenHeader = true;
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']')
                return fail("a key line must end with ]");
            RegHive hive = RegHive::LocalMachine;
            std::string path;
            std::string error = parseKeyLine(line, hive, path);
            if (!error.empty())
                return fail(error);
            current = &parsed.createKey(hive, path);
            continue;
        }
        std::string name;
        RegValue value;
        std::string error = parseValueLine(line, name, value);
        if (!error.empty())
            return fail(error);
        if (current == nullptr)
            return fail("a value before the first [key] line");
        current->set(name, std::move(value));
    }
    // A file of blank lines (and comments) only holds no keys.
    tree = std::move(parsed);
    return {};
}

std::string RegistryFile::defaultPath()
{
    if (const char* explicitPath = std::getenv("LIRROSA_REGISTRY"); explicitPath != nullptr && *explicitPath != '\0')
        return explicitPath;
    std::string configHome;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/')
        configHome = xdg;
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        configHome = std::string(home) + "/.config";
    else
        configHome = ".config";
    return configHome + "/lirrosa/registry.reg";
}

RegResult RegistryFile::load(RegistryTree& tree) const
{
    std::string text;
    int error = 0;
    if (!readWholeFile(path_, text, error)) {
        if (error == ENOENT) {
            tree = RegistryTree();
            return {};
        }
        return RegResult::failure(RegStatus::FileInvalid, systemError("cannot read " + path_, error));
    }
    RegResult result = RegistryTree::parse(text, tree);
    if (!result.ok())
        result.detail = path_ + ", " + result.detail;
    return result;
}

RegResult RegistryFile::update(const std::function<RegResult(RegistryTree&)>& change)
{
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::path(path_).parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder, ec);
    if (ec)
        return RegResult::failure(RegStatus::WriteFailed, "cannot create " + folder.string() + ": " + ec.message());

    WriterLock lock(path_);
    if (!lock.locked())
        return RegResult::failure(RegStatus::WriteFailed, lock.error());
    RegistryTree tree;
    RegResult result = load(tree);
    if (!result.ok())
        return result;
    result = change(tree);
    if (!result.ok())
        return result;
    return replaceFile(tree.toText());
}

RegResult RegistryFile::replaceFile(const std::string& text) const
{
    // The file holds the user's e-mail address and phone number: only the user may read
    // a new one. A file replaced keeps the permissions a person gave it.
    AtomicFile file;
    if (!file.create(path_, 0600))
        return RegResult::failure(RegStatus::WriteFailed, systemError("cannot create " + path_, file.error()));
    if (!file.write(text.data(), text.size()) || !file.commit())
        return RegResult::failure(RegStatus::WriteFailed, systemError("cannot replace " + path_, file.error()));
    return {};
}

RegistryKey::RegistryKey(RegHive hive, std::string path, std::string filePath)
    : file_(std::move(filePath)), hive_(hive), path_(std::move(path))
{
}

RegResult RegistryKey::open(bool create)
{
    opened_ = false;
    RegistryTree tree;
    RegResult result = file_.load(tree);
    if (!result.ok())
        return result;
    if (!tree.hasKey(hive_, path_)) {
        if (!create)
            return RegResult::failure(RegStatus::KeyNotFound);
        if (splitKeyPath(path_).empty())
            return RegResult::failure(RegStatus::WriteFailed, "a key needs a name");
        result = file_.update([this, &tree](RegistryTree& latest) {
            latest.createKey(hive_, path_);
            tree = latest;
            return RegResult();
        });
        if (!result.ok())
            return result;
    }
    const RegKey* key = tree.findKey(hive_, path_);
    key_ = key != nullptr ? *key : RegKey{};
    opened_ = true;
    return {};
}

RegResult RegistryKey::readValue(std::string_view name, RegValue& value) const
{
    if (!opened_)
        return RegResult::failure(RegStatus::KeyNotFound);
    const RegValue* found = key_.find(name);
    if (found == nullptr)
        return RegResult::failure(RegStatus::ValueAbsent);
    value = *found;
    return {};
}

RegResult RegistryKey::readString(std::string_view name, std::string& text) const
{
    RegValue value;
    RegResult result = readValue(name, value);
    if (!result.ok())
        return result;
    if (value.type != RegType::String)
        return RegResult::failure(RegStatus::WrongType);
    text = value.text;
    return {};
}

RegResult RegistryKey::readInteger(std::string_view name, int32_t& number) const
{
    RegValue value;
    RegResult result = readValue(name, value);
    if (!result.ok())
        return result;
    if (value.type != RegType::Dword)
        return RegResult::failure(RegStatus::WrongType);
    number = static_cast<int32_t>(value.dword);
    return {};
}

RegResult RegistryKey::writeString(std::string_view name, const std::string& text)
{
    return writeValue(name, RegValue::ofText(text));
}

RegResult RegistryKey::writeInteger(std::string_view name, int32_t value)
{
    return writeValue(name, RegValue::ofDword(static_cast<uint32_t>(value)));
}

RegResult RegistryKey::writeValue(std::string_view name, RegValue value)
{
    if (!opened_)
        return RegResult::failure(RegStatus::KeyNotFound);
    if (!fitsOnOneLine(name) || !fitsOnOneLine(value.text))
        return RegResult::failure(RegStatus::WriteFailed, "line breaks cannot be stored in a value");
    RegKey updated;
    RegResult result = file_.update([&](RegistryTree& tree) {
        // The key may have been deleted by another process since it was opened.
        if (!tree.hasKey(hive_, path_))
            return RegResult::failure(RegStatus::WriteFailed, "the key no longer exists");
        RegKey& key = tree.createKey(hive_, path_);
        key.set(name, value);
        updated = key;
        return RegResult();
    });
    if (result.ok())
        key_ = std::move(updated);
    return result;
}

RegResult RegistryKey::deleteValue(std::string_view name)
{
    if (!opened_)
        return RegResult::failure(RegStatus::KeyNotFound);
    RegKey updated;
    RegResult result = file_.update([&](RegistryTree& tree) {
        RegKey* key = tree.findKey(hive_, path_);
        if (key == nullptr || !key->erase(name))
            return RegResult::failure(RegStatus::ValueAbsent);
        updated = *key;
        return RegResult();
    });
    if (result.ok())
        key_ = std::move(updated);
    return result;
}
