#pragma once
// Base64 text of the melody package, in lines of 76 characters ended by CR LF.

#include <cstddef>
#include <cstdint>
#include <string>

// The standard base64 alphabet and padding. After each group of three bytes a CR LF
// ends the line once it holds more than 75 characters, so a last full group that fills
// a line is followed by CR LF as well.
std::string EncodeBase64Lines(const uint8_t* bytes, size_t length);
