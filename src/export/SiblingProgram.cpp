#include "export/SiblingProgram.h"

#include <filesystem>

#include "platform/ProcessStart.h"
#include "settings/My_registry.h"

void lookUpSiblingProgram(SiblingProgram& sibling)
{
    if (!sibling.path.empty())
        return;
    std::string folder;
    if (!RegAccessString(false, "InstallPath", folder, kSettingsKey, kSiblingRoot) &&
        !RegAccessString(false, "InstallPath", folder, kSettingsKey, kOlderSiblingRoot))
        folder.clear();
    if (folder.empty()) {
        sibling.found = false;
        return;
    }
    if (folder.back() != '/')
        folder += '/';
    std::error_code error;
    sibling.path = folder + kSiblingProgramName;
    if (!std::filesystem::is_regular_file(sibling.path, error))
        sibling.path = folder + kOlderSiblingProgramName;
    sibling.found = std::filesystem::is_regular_file(sibling.path, error);
}

bool startSiblingProgram(const SiblingProgram& sibling, const std::string& scorePath)
{
    if (sibling.path.empty() || scorePath.empty())
        return false;
    return startDetached({sibling.path, scorePath});
}
