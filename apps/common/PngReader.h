// Reading PNG files into RGBA bytes (libpng), for tests and tools that check
// the images the applications wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// Reads any PNG that libpng understands, converted to RGBA 8 bits per
/// channel, rows stored bottom-up (the layout WritePng takes). Returns false
/// and fills `error` (when not null) with one line on failure; the outputs
/// are then unchanged.
bool ReadPng(std::string const& path, int* w, int* h, std::vector<uint8_t>* rgbaBottomUp,
             std::string* error);
