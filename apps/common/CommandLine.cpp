// CLI11 glue of the applications: strict numbers and one-line errors.
#include "CommandLine.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "VolumeLoader.h"

namespace cmdline {

namespace {

// Why `text` is not a usable float, or "" when it is one.
std::string FloatProblem(const std::string& text, double* value) {
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(parsed)) {
        return "'" + text + "' is not a finite number";
    }
    if (std::fabs(parsed) > double(FLT_MAX) || (errno == ERANGE && parsed != 0.0)) {
        return "'" + text + "' is too large in magnitude (single precision ends at 3.4e38)";
    }
    if (parsed != 0.0 && std::fabs(parsed) < double(FLT_MIN)) {
        return "'" + text + "' is too small in magnitude to use (non-zero values start at 1.2e-38)";
    }
    *value = parsed;
    return "";
}

// Options of several values must get all of them (every time they are given): CLI11 takes
// fewer when the last occurrence wins.
void CheckValueCounts(const CLI::App& app) {
    for (const CLI::Option* option : app.get_options()) {
        const int count = option->get_items_expected_max();
        if (count > 1 && option->count() > 0 && option->results().size() % size_t(count) != 0) {
            throw InputError(option->get_name() + ": expected " + std::to_string(count) +
                             " values (" + option->get_type_name() + ")");
        }
    }
    for (const CLI::App* group : app.get_subcommands([](const CLI::App*) { return true; }))
        CheckValueCounts(*group);
}

}  // namespace

std::unique_ptr<CLI::App> NewApp(const std::string& description, const std::string& name) {
    std::unique_ptr<CLI::App> app(new CLI::App(description, name));
    app->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    return app;
}

CLI::Validator Float(double low, double high, const std::string& what) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            double value = 0.0;
            const std::string problem = FloatProblem(text, &value);
            if (!problem.empty()) return problem;
            if (value < low || value > high) {
                if (low > 0.0 && value <= 0.0) return what + " must be positive, got " + text;
                return what + " " + text + " is out of range (" + Number(low) + " to " +
                       Number(high) + ")";
            }
            return "";
        },
        "");
}

CLI::Validator Integer(long low, long high) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            errno = 0;
            char* end = nullptr;
            const long value = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || errno != 0) {
                return "'" + text + "' is not an integer";
            }
            if (value < low || value > high) {
                return text + " is out of range (" + std::to_string(low) + " to " +
                       std::to_string(high) + ")";
            }
            return "";
        },
        "");
}

CLI::Validator Value(const std::string& what) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            if (text.empty()) return "empty " + what;
            if (text.rfind("--", 0) == 0 || text == "-o" || text == "-h") {
                return "expected a " + what + ", got the option " + text;
            }
            return "";
        },
        "");
}

CLI::Validator ImageSize(int maxSide) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            const size_t x = text.find_first_of("xX");
            const CLI::Validator side = Integer(1, maxSide);
            std::string width = x == std::string::npos ? "" : text.substr(0, x);
            std::string height = x == std::string::npos ? "" : text.substr(x + 1);
            if (side(width).empty() && side(height).empty()) return "";
            return "expected WIDTHxHEIGHT with sides 1 to " + std::to_string(maxSide) +
                   " (e.g. 512x512), got '" + text + "'";
        },
        "");
}

void ToImageSize(const std::string& text, int* width, int* height) {
    const size_t x = text.find_first_of("xX");
    *width = ToInt(text.substr(0, x));
    *height = ToInt(text.substr(x + 1));
}

int ToInt(const std::string& text) {
    return int(std::strtol(text.c_str(), nullptr, 10));
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", value);
    return text;
}

bool Parse(CLI::App& app, int argc, char** argv, const std::string& volumeFile) {
    app.allow_extras();
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        return false;
    } catch (const CLI::ParseError& error) {
        std::string message = error.what();
        for (char& c : message) {
            if (c == '\n') c = ' ';
        }
        throw InputError(message);
    }
    CheckValueCounts(app);
    const std::vector<std::string> rest = app.remaining();
    if (!rest.empty()) {
        const std::string& first = rest.front();
        if (first.size() > 1 && first[0] == '-') {
            throw InputError(first + ": unknown option (see --help)");
        }
        throw InputError(first + ": more than one volume file given (already '" + volumeFile +
                         "')");
    }
    return true;
}

}  // namespace cmdline
