#pragma once
// The accompaniment program of the same maker: found through its installation folder in
// the registry, under its current maker's key or the older one, and started with the
// exported score.

#include <string>

inline const std::string kSiblingRoot = "\\software\\Tolvane Lab\\Kestrova\\";
inline const std::string kOlderSiblingRoot = "\\software\\Kestrova Lab\\Kestrova\\";
inline const std::string kSiblingProgramName = "kestrova.exe";
inline const std::string kOlderSiblingProgramName = "kstr_am.exe";
inline const std::string kSiblingDownloadPage = "/download.html";
inline const std::string kSiblingDownloadHint =
    "If you do not have Kestrova Real MIDI Accompaniment Maker you can download it from ";
inline const std::string kExportFileErrorText = "Export file error";

struct SiblingProgram {
    std::string path; // formed once from the installation folder, then kept
    bool found = false;
};

// Runs the look-up unless a path has been formed before: InstallPath under "Settings" of
// the current root, or of the older root when that read fails; in a non-empty folder the
// program is "kestrova.exe", else "kstr_am.exe", and found says whether that file exists.
// Without a folder the path stays empty, so the next call looks again.
void lookUpSiblingProgram(SiblingProgram& sibling);

// Starts the program, without waiting, with the score's path as its one argument. False
// when there is no program path or no score path, or the start fails.
bool startSiblingProgram(const SiblingProgram& sibling, const std::string& scorePath);
