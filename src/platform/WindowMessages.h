#pragma once
// The program's own window messages. Audio and MIDI threads post them to the main window
// (through a MessageTarget); the window thread handles them.

#include <cstdint>

constexpr uint32_t WM_USER = 1024;

constexpr uint32_t UM_IN_BUFFER_DONE = WM_USER + 666;   // 1690: wParam header, lParam recorder
constexpr uint32_t UM_OUT_BUFFER_DONE = WM_USER + 667;  // 1691: wParam header, lParam player
constexpr uint32_t UM_PLAY_CHUNK = WM_USER + 668;       // 1692: wParam chunk copy (owned), lParam length
constexpr uint32_t UM_INPUT_ENDED = WM_USER + 670;      // 1694
constexpr uint32_t UM_PLAYBACK_ENDED = WM_USER + 671;   // 1695
constexpr uint32_t UM_POSITION = WM_USER + 681;         // 1705: wParam frame index or -1, lParam flags
constexpr uint32_t UM_MIDI_POSITION = WM_USER + 692;    // 1716: wParam ticks or -1, lParam play kind
constexpr uint32_t UM_MIDI_ECHO_ENDED = WM_USER + 700;  // 1724: the MIDI output of the echo failed
