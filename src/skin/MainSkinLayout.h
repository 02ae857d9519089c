#pragma once
// Where the main window's skinned controls sit on its 548 x 290 face, in creation order
// (later controls lie above earlier ones where their pictures overlap). The BASE skin's
// pictures are drawn to these sizes; each control's picture is the file <name>.bmp in the
// skin folder (a strip of 4 frames for a push button, 5 for a check button, one picture
// for a plain image).

enum class SkinControlKind { PushButton, CheckButton, Image };

struct SkinControl {
    const char* name;
    SkinControlKind kind;
    int left;
    int top;
    int width;
    int height;
    const char* region; // clickable region of a button; empty for an image
    bool quorrEnabled;  // whether the button responds to the mouse at start
};

inline constexpr int kMainFaceWidth = 548;
inline constexpr int kMainFaceHeight = 290;
inline constexpr const char* kMainFaceRegion = "0 0 548 289 85 85";
inline constexpr const char* kMainFaceFile = "bg16.bmp";

// The display (TMFD) and its page pictures.
inline constexpr int kDisplayLeft = 64;
inline constexpr int kDisplayTop = 64;
inline constexpr int kDisplayWidth = 440;
inline constexpr int kDisplayHeight = 105;
inline constexpr int kDisplayPitchHeight = 15;
inline constexpr const char* kStartPageFile = "MFD_StartPageBg.bmp";
inline constexpr const char* kSpectrumPageFile = "MFD_SpectrPageBg.bmp";

// The settings dialog's background and the editor's footer icons (16 x 16 each).
inline constexpr const char* kSettingsBackgroundFile = "setting_bg.bmp";
inline constexpr int kSettingsBackgroundWidth = 220;
inline constexpr int kSettingsBackgroundHeight = 370;
inline constexpr const char* kEditorIconFiles[] = {"b_ZoomUp.bmp", "b_ZoomDown.bmp", "b_Resize.bmp"};
inline constexpr int kEditorIconSize = 16;

inline constexpr SkinControl kMainSkinControls[] = {
    {"ibtn_Minimize", SkinControlKind::PushButton, 494, 18, 15, 15, "0 0 14 14", true},
    {"ibtn_Close", SkinControlKind::PushButton, 512, 33, 15, 15, "0 0 14 14", true},
    {"ibtn_Convert", SkinControlKind::CheckButton, 42, 203, 68, 23, "0 0 64 19", true},
    {"ibtn_Stop", SkinControlKind::PushButton, 109, 203, 59, 23, "0 0 56 19", true},
    {"ibtn_Play", SkinControlKind::CheckButton, 166, 202, 68, 23, "0 0 64 19", false},
    {"ibtn_In", SkinControlKind::PushButton, 237, 203, 36, 16, "0 0 32 14", true},
    {"ibtn_Out", SkinControlKind::PushButton, 274, 203, 36, 16, "0 0 32 14", true},
    {"ibtn_SaveAs", SkinControlKind::PushButton, 313, 202, 68, 24, "0 0 64 19", false},
    {"ibtn_Export", SkinControlKind::PushButton, 379, 202, 68, 24, "0 0 64 19", false},
    {"ibtn_Help", SkinControlKind::PushButton, 445, 202, 68, 24, "0 0 64 19", true},
    {"ibtn_Finish", SkinControlKind::PushButton, 313, 239, 68, 24, "0 0 64 19", false},
    {"ibtn_Edit", SkinControlKind::PushButton, 379, 239, 68, 24, "0 0 64 19", false},
    {"ibtn_Setting", SkinControlKind::PushButton, 445, 239, 68, 24, "0 0 64 19", true},
    {"ibtn_About", SkinControlKind::PushButton, 256, 224, 31, 47, "0 0 29 47", true},
    {"ibtn_MIDI", SkinControlKind::PushButton, 165, 244, 36, 16, "0 0 32 14", true},
    {"ibtn_WAVE", SkinControlKind::PushButton, 200, 244, 36, 16, "0 0 32 14", true},
    {"ibtn_Mic", SkinControlKind::PushButton, 41, 244, 36, 16, "0 0 32 14", true},
    {"ibtn_File", SkinControlKind::PushButton, 75, 244, 36, 16, "0 0 32 14", true},
    {"ind_Mic", SkinControlKind::CheckButton, 53, 229, 10, 10, "0 0 10 10", false},
    {"ind_File", SkinControlKind::CheckButton, 86, 229, 10, 10, "0 0 10 10", false},
    {"ind_MIDI", SkinControlKind::CheckButton, 177, 229, 10, 10, "0 0 10 10", false},
    {"ind_WAVE", SkinControlKind::CheckButton, 209, 229, 10, 10, "0 0 10 10", false},
    {"ibtn_PlayPB", SkinControlKind::CheckButton, 40, 164, 12, 12, "0 0 10 10", false},
    {"ibtn_PlayNT", SkinControlKind::CheckButton, 40, 64, 12, 12, "0 0 10 10", false},
    {"ind_PlayPos", SkinControlKind::Image, 64, 58, 4, 6, "", false},
    {"ind_Level", SkinControlKind::Image, 44, 80, 4, 81, "", false},
    {"imgSilv", SkinControlKind::Image, 362, 6, 77, 20, "", false},
};
