#pragma once

// The command-line programs' arguments, read one way: "--name value" or
// "--name=value" for an option that takes a value, "--name" for a switch, and
// any other word as the next positional argument. An unknown option, a
// missing value, a value given to a switch or one positional argument too
// many is reported on standard error after the program's name (with its
// subcommand), and parse() answers false.

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace cli {

struct Option {
    const char* name;  // "--db"
    bool takesValue;
};

class CommandLine {
  public:
    CommandLine(std::string program, std::vector<Option> options, std::size_t positional = 0);

    bool parse(const std::vector<std::string>& args);

    // An option's value, or "" when it was not given; whether it was given.
    // An option given more than once keeps its last value; values() answers
    // all of them in order.
    std::string value(const std::string& name) const;
    bool given(const std::string& name) const;
    std::vector<std::string> values(const std::string& name) const;
    const std::vector<std::string>& positional() const { return positional_; }

  private:
    bool refuse(const std::string& what) const;

    std::string program_;
    std::vector<Option> options_;
    std::size_t maxPositional_;
    std::map<std::string, std::string> values_;
    std::map<std::string, std::vector<std::string>> all_;
    std::vector<std::string> positional_;
};

// The arguments after the program's name (argv[1] on).
std::vector<std::string> arguments(int argc, char** argv, int first = 1);

// Makes the store say once on standard error that it waits for another
// program's lock on the database (a window shows a note instead).
void printWaits();

}  // namespace cli
