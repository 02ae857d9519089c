#include "settings/SetupInstaller.h"

#include <filesystem>
#include <system_error>

#include "platform/Registry.h"
#include "settings/My_registry.h"

namespace fs = std::filesystem;

namespace {

std::string asFolder(const fs::path& path)
{
    std::string text = path.string();
    if (text.empty() || text.back() != '/')
        text += '/';
    return text;
}

bool hasInstrumentList(const fs::path& folder)
{
    std::error_code ec;
    return fs::is_regular_file(folder / "data" / "gmi.txt", ec);
}

bool sameFolder(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

// Copies data/gmi.txt, skins/BASE/ and Help/ from `from` to `to`, as far as they exist.
bool copyResources(const fs::path& from, const fs::path& to, bool replace, std::ostream& out, std::ostream& err)
{
    const fs::copy_options mode = fs::copy_options::recursive |
                                  (replace ? fs::copy_options::overwrite_existing : fs::copy_options::skip_existing);
    for (const fs::path& part : {fs::path("data/gmi.txt"), fs::path("skins/BASE"), fs::path("Help")}) {
        std::error_code ec;
        if (!fs::exists(from / part, ec))
            continue;
        fs::create_directories((to / part).parent_path(), ec);
        if (!ec)
            fs::copy(from / part, to / part, mode, ec);
        if (ec) {
            err << "Lirrosa Setup: cannot install " << (to / part).string() << ": " << ec.message() << "\n";
            return false;
        }
        out << "Installed " << (to / part).string() << "\n";
    }
    return true;
}

struct ValueCounts {
    int written = 0;
    int kept = 0;
};

// Writes the values the setup is responsible for into `tree`.
void writeProductValues(RegistryTree& tree, const SetupOptions& options, const std::string& installPath,
                        ValueCounts& counts, std::ostream& out)
{
    for (size_t i = 0; i < kSettingDefinitionCount; ++i) {
        const SettingDefinition& definition = kSettingDefinitions[i];
        const std::string name = definition.name;
        RegKey& key = tree.createKey(RegHive::LocalMachine, kRegistryRoot + definition.subkey);

        RegValue value = definition.isText ? RegValue::ofText(definition.builtInText)
                                           : RegValue::ofDword(static_cast<uint32_t>(definition.builtInInteger));
        bool given = false;
        if (name == "InstallPath" || name == "WorkPath") {
            value.text = installPath;
            given = !options.installPath.empty();
        } else if (name == "url" && options.url) {
            value.text = *options.url;
            given = true;
        } else if (name == "uri" && options.uri) {
            value.text = *options.uri;
            given = true;
        }

        const RegValue* existing = key.find(name);
        if (existing != nullptr && !options.reset && !given) {
            ++counts.kept;
            if (existing->type != value.type)
                out << "Warning: " << definition.subkey << "\\" << name
                    << " has the wrong type and is kept; lirrosa-setup --reset restores it\n";
            continue;
        }
        key.set(name, value);
        ++counts.written;
    }
}

} // namespace

std::string findResourceFolder()
{
    const fs::path candidates[] = {fs::path(programFolder()) / LIRROSA_RESOURCES_FROM_PROGRAM,
                                   fs::path(LIRROSA_SOURCE_RESOURCES)};
    for (const fs::path& candidate : candidates) {
        if (!hasInstrumentList(candidate))
            continue;
        std::error_code ec;
        fs::path canonical = fs::canonical(candidate, ec);
        return asFolder(ec ? candidate : canonical);
    }
    return {};
}

int runSetup(const SetupOptions& options, const std::string& resourceFolder, std::ostream& out, std::ostream& err)
{
    for (const std::optional<std::string>& text : {options.url, options.uri, std::optional(options.installPath)}) {
        if (text && text->find_first_of("\r\n") != std::string::npos) {
            err << "Lirrosa Setup: a value cannot hold a line break\n";
            return 1;
        }
    }

    std::string installPath;
    if (!options.installPath.empty()) {
        std::error_code ec;
        installPath = asFolder(fs::absolute(options.installPath, ec).lexically_normal());
    } else {
        installPath = resourceFolder.empty() ? programFolder() : resourceFolder;
    }

    if (!resourceFolder.empty() && !sameFolder(resourceFolder, installPath)) {
        if (!copyResources(resourceFolder, installPath, options.reset, out, err))
            return 1;
    }
    if (!hasInstrumentList(installPath))
        out << "Warning: " << installPath << "data/gmi.txt is missing; the settings dialog needs it\n";

    RegistryFile file(RegistryFile::defaultPath());
    ValueCounts counts;
    RegResult result = file.update([&](RegistryTree& tree) {
        counts = ValueCounts{};
        writeProductValues(tree, options, installPath, counts, out);
        return RegResult();
    });
    if (!result.ok()) {
        if (result.status == RegStatus::FileInvalid)
            err << "Lirrosa Setup: the settings file cannot be read: " << result.detail
                << "\nIt is left unchanged; correct that line, or remove the file and run the setup again.\n";
        else
            err << "Lirrosa Setup: the settings could not be written: " << result.detail
                << "\nThe previous settings file is unchanged.\n";
        return 1;
    }
    out << "Lirrosa Setup: " << file.path() << ": " << counts.written << " values written, " << counts.kept
        << " kept; installation folder " << installPath << "\n";
    return 0;
}
