// Transfer functions as text files and as built-in presets, for the applications.
//
// File format (UTF-8 or ASCII text, one statement per line; '#' starts a comment that runs to
// the end of the line; blank lines are ignored; numbers in C notation):
//
//   kestrel-transfer-function 1          first statement: the format and its version
//   range <min> <max>                    scalar value range of the table, min < max, finite
//   samples <count>                      table entries, 2 .. 65536
//   point <value> <r> <g> <b> <a>        a control point: scalar value (finite) and colour,
//                                        each channel in [0, 1]; any number up to 4096, any order
//
// range and samples appear exactly once, before the first point. Between and beyond the points
// the table is piecewise linear with transparent ends (RGBATransferFunction1D). Example:
//
//   kestrel-transfer-function 1
//   range 0 4096
//   samples 512
//   point 1500 0.95 0.90 0.80 0.30      # bone starts
//   point 2400 1 0.98 0.92 0.85
#pragma once

#include <string>
#include <vector>

#include "Vector.h"
#include "VolumeLoader.h"

class RGBATransferFunction1D;
struct DataDefaults;

// A parsed transfer function, not yet applied.
struct TransferFunctionSettings {
    float minPos = 0.0f;
    float maxPos = 1.0f;
    int samples = 256;
    struct Point {
        float value;
        Vector4 rgba;
    };
    std::vector<Point> points;  // in file order
};

// Parses `text`; `name` is the file name used in messages. Throws InputError with one line
// "<name>:<line>: <what is wrong>".
TransferFunctionSettings ParseTransferFunction(const std::string& text, const std::string& name);

// The text of a transfer function in the format above (values written to 9 significant digits,
// so that reading it back gives the same floats).
std::string FormatTransferFunction(const TransferFunctionSettings& settings);

// The function's range, table size and points (at their scalar values, GetPos).
TransferFunctionSettings SettingsOf(const RGBATransferFunction1D& function);

// Replaces the function's range, table size and points with those of `settings`.
void ApplyTransferFunction(const TransferFunctionSettings& settings,
                           RGBATransferFunction1D& function);

// Reads a file into `function`. On any error (unreadable file, over 1 MiB, bad statement)
// throws InputError naming the file (and the line) and leaves `function` unchanged.
void LoadTransferFunctionFile(const std::string& path, RGBATransferFunction1D& function);

// Writes `function` to `path` (through a temporary file renamed into place, so that a failed
// write leaves an existing file intact). Throws InputError naming the file on failure.
void SaveTransferFunctionFile(const std::string& path, const RGBATransferFunction1D& function);

// The built-in presets, by name:
//   ct-soft-tissue-bone  CT numbers shifted by +1024 (the head phantom's scale): faint skin and
//                        soft tissue, a transparent gap, bone from 1500, dense structures opaque
//   ct-bone              the same scale, bone and dense structures only
//   mr-default           MR intensities 0 .. 1024: background transparent below 80, tissue
//                        ramping to bright and opaque; with the data's defaults, the same
//                        shape placed on the data (MakeRelativeMRFunction, DataDefaults.h)
std::vector<std::string> TransferFunctionPresetNames();
// The preset's text in the file format; empty for an unknown name.
std::string TransferFunctionPresetText(const std::string& name);
// Applies a preset; false (function unchanged) for an unknown name. `data` (may be null) places
// the MR preset on the volume's percentiles, and moves the CT presets to Hounsfield units
// (-1024) when the volume has values below -500, which only Hounsfield units have.
bool LoadTransferFunctionPreset(const std::string& name, RGBATransferFunction1D& function,
                                const DataDefaults* data = nullptr);
