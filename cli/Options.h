// tarnwick-scan's command line.
#pragma once

#include <string>
#include <vector>

#include "Progress.h"
#include "RowWriter.h"
#include "Scan.h"
#include "Types.h"

struct Options {
    ScanSettings scan; // minimum, UTF-16, threads and range
    RowFormat format = RowFormat::text;
    bool printFileName = false;
    bool find = false; // only rows with findText
    std::string findText;
    bool regex = false; // only rows matching pattern
    std::string pattern;
    Progress::Mode progress = Progress::Mode::automatic;
    // The files to list, in order; "-" is standard input, as is no file at all.
    std::vector<std::string> files;
};

enum class Parsed { run, help, version, bad };

// Reads the arguments; a bad one gives Parsed::bad with the reason in *error.
Parsed ParseOptions(int argc, char** argv, Options* options, std::string* error);

// The usage text --help prints.
std::string Usage();
