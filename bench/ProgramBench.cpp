// The whole-program table of the load benchmark (slp_bench --program PATH_TO_slp): the slp program's
// commands timed as whole processes, start-up, reading, writing and exit included, with the processor
// time and peak resident memory that wait4 gives, as medians of interleaved rounds:
//   slp info --quiet FILE                       the reference of every ratio
//   slp check FILE
//   slp convert FILE OUT.glb (.gltf, .obj, .ply, .stl)   OUT removed before each run: a new file
//   slp convert FILE OUT.glb                    over the file of the round before
//   slp info --quiet --threads 1 FILE           when the program's help lists --threads
// and a batch of 8 copies of the 300,000-facet file written as glb into a folder, by one process
// (slp convert -f glb -o FOLDER FILE...) against 8 processes one after another (and with -j 1 and -j 2
// when slp convert --help lists -j). Outputs and copies go into FOLDER/program-out, which is removed
// afterwards.
#include "Driver.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace slp_bench
{

namespace
{

// Whether a help text lists an option: the option's text standing alone (after the start, a space or a
// comma; before the end, a space, a comma, '=' or '[').
bool ListsOption(const std::string& help, const std::string& option)
{
    for (std::size_t nAt = help.find(option); nAt != std::string::npos; nAt = help.find(option, nAt + 1))
    {
        const std::size_t nEnd = nAt + option.size();
        const bool bStart =
            nAt == 0 || std::isspace(static_cast<unsigned char>(help[nAt - 1])) || help[nAt - 1] == ',';
        const bool bEnd = nEnd == help.size() || std::isspace(static_cast<unsigned char>(help[nEnd])) ||
                          help[nEnd] == ',' || help[nEnd] == '=' || help[nEnd] == '[';
        if (bStart && bEnd)
            return true;
    }
    return false;
}

std::string HelpOf(const std::vector<std::string>& argv)
{
    std::string output;
    CProcessRun run;
    RunProcess(argv, run, &output);
    return output;
}

// A command of the table and its runs (a command of several processes sums their times and keeps the
// largest peak).
struct CCommand
{
    std::string m_Label;
    std::vector<std::vector<std::string>> m_Processes;
    std::vector<CProcessRun> m_Runs;
    CProcessRun m_Median;
    // Files removed before each run, outside the time: a command that writes them makes new files
    // rather than replacing those of the round before.
    std::vector<std::string> m_Outputs;
};

bool RunCommand(CCommand& command)
{
    CProcessRun total;
    total.m_nExitStatus = 0;
    for (const std::string& output : command.m_Outputs)
    {
        std::error_code error;
        std::filesystem::remove(output, error);
    }
    for (const std::vector<std::string>& argv : command.m_Processes)
    {
        CProcessRun run;
        if (!RunProcess(argv, run) || run.m_nExitStatus != 0)
        {
            std::string line;
            for (const std::string& arg : argv)
                line += (line.empty() ? "" : " ") + arg;
            std::fprintf(stderr, "failed (exit status %d): %s\n", run.m_nExitStatus, line.c_str());
            return false;
        }
        total.m_dSeconds += run.m_dSeconds;
        total.m_dCpuSeconds += run.m_dCpuSeconds;
        total.m_nPeakRssKiB = std::max(total.m_nPeakRssKiB, run.m_nPeakRssKiB);
    }
    command.m_Runs.push_back(total);
    return true;
}

bool RunRounds(std::vector<CCommand>& commands, int nRounds)
{
    for (int r = 0; r < nRounds; ++r)
        for (CCommand& command : commands)
            if (!RunCommand(command))
                return false;
    for (CCommand& command : commands)
    {
        command.m_Median.m_dSeconds = MedianOf(command.m_Runs, &CProcessRun::m_dSeconds);
        command.m_Median.m_dCpuSeconds = MedianOf(command.m_Runs, &CProcessRun::m_dCpuSeconds);
        command.m_Median.m_nPeakRssKiB = MedianOf(command.m_Runs, &CProcessRun::m_nPeakRssKiB);
    }
    return true;
}

std::string Ratio(double dValue)
{
    char sz[32];
    std::snprintf(sz, sizeof(sz), " %.2f |", dValue);
    return sz;
}

std::string Figures(const CProcessRun& run)
{
    char sz[96];
    std::snprintf(sz, sizeof(sz), " %.1f | %.1f | %.1f |", run.m_dSeconds * 1e3, run.m_dCpuSeconds * 1e3,
                  static_cast<double>(run.m_nPeakRssKiB) / 1024.0);
    return sz;
}

} // namespace

int RunProgramBenchmark(const std::string& program, const std::string& folder,
                        const std::vector<std::string>& cases, int nRounds)
{
    namespace fs = std::filesystem;
    const bool bThreads = ListsOption(HelpOf({program, "--help"}), "--threads") ||
                          ListsOption(HelpOf({program, "info", "--help"}), "--threads");
    const bool bJobs = ListsOption(HelpOf({program, "convert", "--help"}), "-j");
    std::string version = HelpOf({program, "--version"});
    version.erase(version.find_last_not_of(" \n") + 1);

    const fs::path out = fs::path(folder) / "program-out";
    std::error_code error;
    fs::remove_all(out, error);
    fs::create_directories(out / "batch", error);
    if (error)
    {
        std::fprintf(stderr, "cannot make %s: %s\n", out.string().c_str(), error.message().c_str());
        return 1;
    }

    std::printf("\nWhole program: %s (%s), each command a process of its own; elapsed time from the start to "
                "the end of the process, processor time (user and system, every thread) and peak RSS from "
                "wait4; medians of %d interleaved round%s.%s\n\n",
                program.c_str(), version.c_str(), nRounds, nRounds == 1 ? "" : "s",
                bThreads ? "" : " The program's help lists no --threads: no row for it.");
    std::printf(
        "| case | command | time ms | CPU ms | peak RSS MiB | time / info | CPU / info | RSS / info |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---:|\n");
    std::fflush(stdout);
    int nResult = 0;
    for (const std::string& name : cases)
    {
        const std::string file = folder + "/" + name + ".slp";
        std::vector<CCommand> commands;
        commands.push_back({"slp info --quiet", {{program, "info", "--quiet", file}}, {}, {}, {}});
        commands.push_back({"slp check", {{program, "check", file}}, {}, {}, {}});
        for (const char* pszFormat : {"glb", "gltf", "obj", "ply", "stl"})
        {
            const std::string output = (out / (name + "." + pszFormat)).string();
            std::vector<std::string> outputs{output};
            if (std::string(pszFormat) == "gltf")
                outputs.push_back((out / (name + ".bin")).string());
            commands.push_back({std::string("slp convert to .") + pszFormat,
                                {{program, "convert", file, output}},
                                {},
                                {},
                                outputs});
        }
        // The same over the file of the round before: the cost of replacing a file, which on some file
        // systems (ext4) includes starting the new file's write-back at the rename.
        const std::string replaced = (out / (name + ".replaced.glb")).string();
        commands.push_back({"slp convert to .glb over an existing file",
                            {{program, "convert", file, replaced}},
                            {},
                            {},
                            {}});
        if (bThreads)
            commands.push_back({"slp info --quiet --threads 1",
                                {{program, "info", "--quiet", "--threads", "1", file}},
                                {},
                                {},
                                {}});
        if (!RunRounds(commands, nRounds))
        {
            nResult = 1;
            break;
        }
        const CProcessRun& info = commands[0].m_Median;
        for (const CCommand& command : commands)
        {
            const CProcessRun& run = command.m_Median;
            std::printf(
                "| %s | %s |%s%s%s%s\n", name.c_str(), command.m_Label.c_str(), Figures(run).c_str(),
                Ratio(run.m_dSeconds / info.m_dSeconds).c_str(),
                Ratio(run.m_dCpuSeconds / info.m_dCpuSeconds).c_str(),
                Ratio(static_cast<double>(run.m_nPeakRssKiB) / static_cast<double>(info.m_nPeakRssKiB))
                    .c_str());
        }
        std::fflush(stdout);
    }

    // The batch: 8 copies of the 300,000-facet file.
    const int nCopies = 8;
    const std::string source = folder + "/one_solid_300000.slp";
    std::vector<std::string> copies;
    for (int i = 1; i <= nCopies && nResult == 0; ++i)
    {
        copies.push_back((out / ("copy_" + std::to_string(i) + ".slp")).string());
        if (!fs::copy_file(source, copies.back(), fs::copy_options::overwrite_existing, error))
        {
            std::fprintf(stderr, "cannot copy %s: %s\n", source.c_str(), error.message().c_str());
            nResult = 1;
        }
    }
    if (nResult == 0)
    {
        const std::string batch = (out / "batch").string();
        std::vector<CCommand> commands;
        std::vector<std::string> outputs;
        for (int i = 1; i <= nCopies; ++i)
            outputs.push_back((out / "batch" / ("copy_" + std::to_string(i) + ".glb")).string());
        CCommand sequence{"8 x slp convert FILE OUT.glb, one after another", {}, {}, {}, outputs};
        for (int i = 0; i < nCopies; ++i)
            sequence.m_Processes.push_back({program, "convert", copies[static_cast<std::size_t>(i)],
                                            outputs[static_cast<std::size_t>(i)]});
        commands.push_back(sequence);
        const auto batchCommand = [&](const std::vector<std::string>& options)
        {
            CCommand command{"slp convert", {{program, "convert"}}, {}, {}, outputs};
            for (const std::string& option : options)
            {
                command.m_Label += " " + option;
                command.m_Processes[0].push_back(option);
            }
            command.m_Label += " -f glb -o DIR (8 files)";
            for (const char* psz : {"-f", "glb", "-o"})
                command.m_Processes[0].push_back(psz);
            command.m_Processes[0].push_back(batch);
            command.m_Processes[0].insert(command.m_Processes[0].end(), copies.begin(), copies.end());
            return command;
        };
        commands.push_back(batchCommand({}));
        if (bJobs)
        {
            commands.push_back(batchCommand({"-j", "1"}));
            commands.push_back(batchCommand({"-j", "2"}));
        }
        if (RunRounds(commands, nRounds))
        {
            std::printf("\nBatch: 8 copies of one_solid_300000.slp to glb.%s\n\n",
                        bJobs ? "" : " slp convert --help lists no -j: no rows for it.");
            std::printf(
                "| command | time ms | CPU ms | peak RSS MiB | time / one after another | CPU / one after "
                "another | time / -j 1 | CPU / -j 1 |\n");
            std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
            const CProcessRun& one = commands[0].m_Median;
            const CProcessRun* pJobs1 = bJobs ? &commands[2].m_Median : nullptr;
            for (const CCommand& command : commands)
            {
                const CProcessRun& run = command.m_Median;
                std::string ratios = &command == &commands[0]
                                         ? std::string(" | |")
                                         : Ratio(run.m_dSeconds / one.m_dSeconds) +
                                               Ratio(run.m_dCpuSeconds / one.m_dCpuSeconds);
                ratios += pJobs1 != nullptr && &command == &commands[3]
                              ? Ratio(run.m_dSeconds / pJobs1->m_dSeconds) +
                                    Ratio(run.m_dCpuSeconds / pJobs1->m_dCpuSeconds)
                              : std::string(" | |");
                std::printf("| %s |%s%s\n", command.m_Label.c_str(), Figures(run).c_str(), ratios.c_str());
            }
        }
        else
            nResult = 1;
    }
    std::fflush(stdout);
    fs::remove_all(out, error);
    return nResult;
}

} // namespace slp_bench
