// The applications' command lines on CLI11: checks that name the option and say what is wrong
// with a value, and every parse error as one line. Include it only where options are declared.
#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <string>

namespace cmdline {

// A command line whose options, given twice, take the last value(s), as they always have.
std::unique_ptr<CLI::App> NewApp(const std::string& description, const std::string& name);

// A number that single-precision arithmetic can use: decimal, finite, and either zero or of a
// magnitude of at least FLT_MIN (about 1.2e-38; smaller ones are denormal, lose their precision
// and overflow when inverted); then within [low, high]. `what` names the value in messages
// ("the width"); applied to every value of the option unless narrowed by application_index.
CLI::Validator Float(double low, double high, const std::string& what = "the value");

// A decimal integer within [low, high].
CLI::Validator Integer(long low, long high);

// Refuses an empty value and another option standing where a value belongs (--output --frames);
// `what` names the value without an article ("file name").
CLI::Validator Value(const std::string& what);

// "WxH": width and height from 1 to `maxSide`.
CLI::Validator ImageSize(int maxSide);
void ToImageSize(const std::string& text, int* width, int* height);

// The integer of a text that Integer() accepted.
int ToInt(const std::string& text);

// A number as %g prints it.
std::string Number(double value);

// Parses argv into `app`. Returns false when --help was asked for. Throws InputError
// (VolumeLoader.h) with one line naming the option for every mistake, including unknown options
// and a second volume file besides `volumeFile` (the positional argument's variable).
bool Parse(CLI::App& app, int argc, char** argv, const std::string& volumeFile);

}  // namespace cmdline
