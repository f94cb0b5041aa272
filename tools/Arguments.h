// The command line of a subcommand: options, their values and the positional arguments, with errors in
// plain words.
#pragma once

#include <map>
#include <string>
#include <vector>

// An option a subcommand takes: its long name ("--json"), an optional one-letter name ('q' for -q), and
// whether it takes a value ("--depth 3", "--depth=3", "-f glb").
struct COptionSpec
{
    const char* pszLong;
    char cShort;
    bool bTakesValue;
};

class CArguments
{
public:
    // Reads the arguments after the subcommand. "--" ends the options; "-" alone is a positional
    // argument (standard input or output). False, with a message for the user, for an unknown option or
    // a missing value.
    bool Parse(const std::vector<std::string>& arguments, const std::vector<COptionSpec>& specs,
               std::string& error);

    bool Has(const std::string& option) const { return m_Values.count(option) != 0; }
    // The option's value (the last one given), or the fallback when it was not given.
    std::string Value(const std::string& option, const std::string& fallback = std::string()) const;
    const std::vector<std::string>& Positionals() const { return m_Positionals; }

private:
    std::map<std::string, std::string> m_Values;
    std::vector<std::string> m_Positionals;
};

// A whole number of at least 0 (digits only); false for anything else, or one beyond long long.
bool ParseCount(const std::string& text, long long& nValue);
