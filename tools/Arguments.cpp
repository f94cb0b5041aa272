#include "tools/Arguments.h"

#include <charconv>

bool CArguments::Parse(const std::vector<std::string>& arguments, const std::vector<COptionSpec>& specs,
                       std::string& error)
{
    bool bOptions = true;
    for (size_t i = 0; i < arguments.size(); ++i)
    {
        const std::string& argument = arguments[i];
        if (!bOptions || argument.size() < 2 || argument[0] != '-')
        {
            m_Positionals.push_back(argument);
            continue;
        }
        if (argument == "--")
        {
            bOptions = false;
            continue;
        }
        // "--name", "--name=value", "-x", or "-x" followed by its value.
        const bool bLong = argument[1] == '-';
        const size_t nEquals = bLong ? argument.find('=') : std::string::npos;
        const std::string name = argument.substr(0, nEquals);
        const COptionSpec* pSpec = nullptr;
        for (const COptionSpec& spec : specs)
            if (bLong ? name == spec.pszLong
                      : (argument.size() == 2 && argument[1] == spec.cShort && spec.cShort))
                pSpec = &spec;
        if (pSpec == nullptr)
        {
            error = "unknown option \"" + name + "\"";
            return false;
        }
        std::string value;
        if (!pSpec->bTakesValue)
        {
            if (nEquals != std::string::npos)
            {
                error = name + " takes no value";
                return false;
            }
        }
        else if (nEquals != std::string::npos)
            value = argument.substr(nEquals + 1);
        else if (i + 1 < arguments.size())
            value = arguments[++i];
        else
        {
            error = name + " needs a value";
            return false;
        }
        m_Values[pSpec->pszLong] = value;
    }
    return true;
}

std::string CArguments::Value(const std::string& option, const std::string& fallback) const
{
    const auto found = m_Values.find(option);
    return found != m_Values.end() ? found->second : fallback;
}

bool ParseCount(const std::string& text, long long& nValue)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    const char* const pEnd = text.data() + text.size();
    const std::from_chars_result result = std::from_chars(text.data(), pEnd, nValue);
    return result.ec == std::errc() && result.ptr == pEnd;
}
