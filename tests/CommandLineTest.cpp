// The tools' shared command-line reader: numbers at their limits and the value just past them, text
// that strtod or sscanf would half read, and how the line is taken (values, flags, repeats, --help,
// "--", options it does not know). Each tool's own options and messages are its tests' business.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandLine.h"

namespace {

TEST(CommandLine, ReadsNumbersWholeAndWithinTheirRange) {
    struct Case {
        std::string text;
        double min, max;
        bool whole;
        bool ok;
        double want;
    };
    const double kSeed = 4294967295.0;  // fxmakefx's seeds are 32 bits
    const std::vector<Case> cases = {
        {"240", 1, 240, true, true, 240},
        {"241", 1, 240, true, false, 0},
        {"1", 1, 240, true, true, 1},
        {"0", 1, 240, true, false, 0},
        {"-16384", -16384, 16384, true, true, -16384},
        {"-16385", -16384, 16384, true, false, 0},
        {"4294967295", 0, kSeed, true, true, kSeed},
        {"4294967296", 0, kSeed, true, false, 0},
        {"18446744073709551617", 0, kSeed, true, false, 0},  // 2^64 + 1: wraps to 1
        {"+5", 0, 9, true, false, 0},
        {" 5", 0, 9, true, false, 0},
        {"5 ", 0, 9, true, false, 0},
        {"-", -9, 9, true, false, 0},
        {"", 0, 9, true, false, 0},
        {"3600", 0, 3600, false, true, 3600},
        {"3600.001", 0, 3600, false, false, 0},
        {".5", 0, 1, false, true, 0.5},
        {"2.", 0, 3, false, true, 2},
        {"1.2.3", 0, 9, false, false, 0},
        {".", 0, 9, false, false, 0},
        {"nan", 0, 9, false, false, 0},
        {"inf", 0, 1e300, false, false, 0},
        {std::string(400, '9'), 0, 1e300, false, false, 0},
        {"1e3", 0, 1e4, false, false, 0},
        {"0x10", 0, 99, false, false, 0},
        {"-1", -9, 9, false, false, 0},
        {" 1", 0, 9, false, false, 0},
    };
    for (const Case& c : cases) {
        double have = -1;
        long long whole = -1;
        const bool ok = c.whole ? cli::ReadWhole(c.text, static_cast<long long>(c.min),
                                                 static_cast<long long>(c.max), whole)
                                : cli::ReadDecimal(c.text, c.min, c.max, have);
        if (c.whole)
            have = static_cast<double>(whole);
        EXPECT_EQ(ok, c.ok) << "'" << c.text << "'";
        if (ok && c.ok) {
            EXPECT_EQ(have, c.want) << "'" << c.text << "'";
        }
    }
    unsigned w = 0, h = 0;
    EXPECT_TRUE(cli::ReadSize("8192x1", 8192, w, h) && w == 8192 && h == 1);
    for (const char* size : {"8193x1", "1x0", "10x", "x10", "+10x10", "10x10x", "10X10"})
        EXPECT_FALSE(cli::ReadSize(size, 8192, w, h)) << size;
}

// What a line of every kind of option made of the arguments: the values taken, or the refusal.
std::string Outcome(const std::vector<std::string>& args) {
    long long n = 0;
    double rate = 0.0;
    std::string name, taken;
    bool flag = false;
    cli::CommandLine line(" (see --help)");
    line.Whole("--n", 1, 10, n)
        .Decimal("--rate", 0, 5, "a rate above 0", rate, true)
        .Text("--name", name)
        .Flag("--flag", flag)
        .Option("--two", 2,
                [&](const std::vector<std::string>& values) {
                    taken += " two:" + values[0] + "," + values[1];
                    return std::string();
                })
        .Positional([&](const std::string& arg) {
            taken += " [" + arg + "]";
            return arg == "bad" ? "bad positional" : "";
        });
    std::string error;
    switch (line.Parse(args, error)) {
        case cli::Outcome::Help:
            return "help";
        case cli::Outcome::Refused:
            return error;
        case cli::Outcome::Run:
            break;
    }
    return "n=" + std::to_string(n) + " rate=" + std::to_string(rate) + " name=" + name +
           (flag ? " flag" : "") + taken;
}

TEST(CommandLine, TakesTheLineInOrderAndRefusesWithOneLine) {
    const std::string none = "n=0 rate=0.000000 name=";
    struct Case {
        std::vector<std::string> args;
        std::string want;
    };
    const std::vector<Case> cases = {
        {{"--n", "10", "--n=3", "--rate=0.5", "--name", "-x", "--flag"},
         "n=3 rate=0.500000 name=-x flag"},
        {{"--n", "11"}, "--n takes a whole number from 1 to 10, not '11'"},
        {{"--n=-1"}, "--n takes a whole number from 1 to 10, not '-1'"},
        {{"--rate", "0"}, "--rate takes a rate above 0, not '0'"},
        {{"--rate", "5"}, "n=0 rate=5.000000 name="},
        {{"--rate", "nan"}, "--rate takes a rate above 0, not 'nan'"},
        {{"--n"}, "--n needs a value"},
        {{"--name", ""}, "--name needs a non-empty value"},
        {{"--name="}, "--name needs a non-empty value"},
        {{"--two", "a"}, "--two needs 2 values"},
        {{"--two=a", "b", "c"}, none + " two:a,b [c]"},
        {{"--flag=1"}, "--flag takes no value"},
        {{"--frob", "x"}, "unknown option '--frob' (see --help)"},
        {{"-", "bad", "c"}, "bad positional"},
        // --help wins wherever it is, unless it is after "--", where it is a positional.
        {{"--frob", "--n", "99", "-h"}, "help"},
        {{"--", "--help", "-x"}, none + " [--help] [-x]"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& arg : c.args)
            line += arg + " ";
        EXPECT_EQ(Outcome(c.args), c.want) << line;
    }
}

}  // namespace
